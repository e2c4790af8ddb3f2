#pragma once

#include "engine/engine.h"

namespace qs::cli {

// Waits until every worker of the engine has ended, acting as the one-second timer. On a
// terminal stderr shows one progress line per busy slot; Ctrl-C stops like Stop.
void RunWorkersWithProgress(Engine& engine);

// True once Ctrl-C was pressed during RunWorkersWithProgress.
bool Interrupted();

}  // namespace qs::cli
