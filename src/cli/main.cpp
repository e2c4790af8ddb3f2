#include "cli/cli_app.h"

int main(int argc, char** argv) {
    return qs::cli::RunCli(argc, argv);
}
