#pragma once
// Everything of the application framework in one include.
#include "agent/framework/afx_ids.h"
#include "agent/framework/cmd_target.h"
#include "agent/framework/control_bars.h"
#include "agent/framework/dialog.h"
#include "agent/framework/document.h"
#include "agent/framework/frame_wnd.h"
#include "agent/framework/mdi_wnd.h"
#include "agent/framework/print.h"
#include "agent/framework/recent_file_list.h"
#include "agent/framework/template_server.h"
#include "agent/framework/win_app.h"
#include "agent/framework/wnd.h"
