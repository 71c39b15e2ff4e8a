#include "agent/framework/dc.h"

#include <utility>

namespace fw {
namespace {
DrawTextObserver& Observer() {
  static DrawTextObserver observer;
  return observer;
}
}  // namespace

void SetDrawTextObserver(DrawTextObserver observer) { Observer() = std::move(observer); }

}  // namespace fw

int CDC::DrawText(const char* text, int count, RECT* rect, UINT format) {
  if (const auto& observer = fw::Observer(); observer && rect) observer(m_hDC, text, count, *rect, format);
  return ::DrawTextA(m_hDC, text, count, rect, format);
}
