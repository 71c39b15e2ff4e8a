#include "tests/shell/dialog_template.h"

#include <cstring>

namespace shelltest {

namespace {

class Reader {
 public:
  Reader(const BYTE* data, size_t size) : p_(data), begin_(data), end_(data + size) {}
  bool ok() const { return ok_; }

  template <class T>
  T Get() {
    T value{};
    if (p_ + sizeof(T) > end_) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, p_, sizeof(T));
    p_ += sizeof(T);
    return value;
  }
  // A zero-terminated UTF-16 text, taken as ASCII.
  std::string Text() {
    std::string text;
    for (WORD c = Get<WORD>(); ok_ && c != 0; c = Get<WORD>()) text += static_cast<char>(c);
    return text;
  }
  // A string or an ordinal (0xFFFF then the number); *ordinal gets the number or 0.
  std::string TextOrOrdinal(WORD* ordinal) {
    *ordinal = 0;
    const BYTE* at = p_;
    if (Get<WORD>() == 0xFFFF) {
      *ordinal = Get<WORD>();
      return std::string();
    }
    p_ = at;
    return Text();
  }
  void AlignDword() {
    while ((p_ - begin_) % 4 != 0) ++p_;
  }
  void Skip(size_t n) { p_ += n; }

 private:
  const BYTE* p_;
  const BYTE* begin_;
  const BYTE* end_;
  bool ok_ = true;
};

}  // namespace

bool ReadDialogTemplate(HMODULE module, int id, DialogTemplate* out) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return false;
  Reader r(static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(module, found));

  DialogTemplate t;
  t.style = r.Get<DWORD>();
  r.Get<DWORD>();  // extended style
  const WORD count = r.Get<WORD>();
  t.x = r.Get<short>();
  t.y = r.Get<short>();
  t.cx = r.Get<short>();
  t.cy = r.Get<short>();
  WORD ordinal = 0;
  r.TextOrOrdinal(&ordinal);  // menu
  r.TextOrOrdinal(&ordinal);  // class
  t.caption = r.Text();
  if (t.style & DS_SETFONT) {
    t.pointSize = r.Get<WORD>();
    t.font = r.Text();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.AlignDword();
    DialogItem item;
    item.style = r.Get<DWORD>();
    r.Get<DWORD>();  // extended style
    item.x = r.Get<short>();
    item.y = r.Get<short>();
    item.cx = r.Get<short>();
    item.cy = r.Get<short>();
    item.id = static_cast<short>(r.Get<WORD>());
    r.TextOrOrdinal(&item.classAtom);
    WORD titleOrdinal = 0;
    item.title = r.TextOrOrdinal(&titleOrdinal);
    if (titleOrdinal) item.title = "#" + std::to_string(titleOrdinal);
    r.Skip(r.Get<WORD>());  // creation data
    t.items.push_back(item);
  }
  if (!r.ok()) return false;
  *out = t;
  return true;
}

}  // namespace shelltest
