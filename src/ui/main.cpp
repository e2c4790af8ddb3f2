#include "ui/app.h"

wxIMPLEMENT_APP(qs::ui::QuillstreamApp);
