#pragma once
#include "agent/framework/afx.h"

// The document window holding one settings view.
class CChildFrame : public CMDIChildWnd {};
