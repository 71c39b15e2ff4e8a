#pragma once
// Everything of the application framework in one include.
#include "agent/framework/ui/afx_ids.h"
#include "agent/framework/ui/cmd_target.h"
#include "agent/framework/ui/control_bars.h"
#include "agent/framework/ui/dialog.h"
#include "agent/framework/ui/document.h"
#include "agent/framework/ui/frame_wnd.h"
#include "agent/framework/ui/mdi_wnd.h"
#include "agent/framework/ui/print.h"
#include "agent/framework/ui/recent_file_list.h"
#include "agent/framework/ui/template_server.h"
#include "agent/framework/ui/win_app.h"
#include "agent/framework/ui/wnd.h"
