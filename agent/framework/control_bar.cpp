#include "agent/framework/control_bar.h"

#include "agent/framework/frame_wnd.h"

CControlBar::CControlBar() = default;

CControlBar::~CControlBar() {
  if (frame_) frame_->RemoveControlBar(this);
}

void CControlBar::AttachToFrame(CWnd* parent) {
  frame_ = dynamic_cast<CFrameWnd*>(parent);
  if (frame_) frame_->AddControlBar(this);
}

int CControlBar::CalcHeight(int) {
  RECT rect{};
  if (m_hWnd) ::GetWindowRect(m_hWnd, &rect);
  return rect.bottom - rect.top;
}

void CControlBar::PostNcDestroy() {}
