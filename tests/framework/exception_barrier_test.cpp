// The exception barrier of every callback from Windows or COM into the framework: what a handler
// throws stops there, the call is answered as failed and the application goes on.
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/framework/test_app.h"
#include "tests/harness/message_box_watcher.h"

namespace {

class ExceptionBarrierTest : public FrameworkTest {};

TEST_F(ExceptionBarrierTest, AThrowingCommandTellsTheUserAndTheApplicationGoesOn) {
  harness::MessageBoxWatcher boxes("Brisomel");
  Command(ID_TEST_THROW);
  ASSERT_TRUE(boxes.WaitForCount(1, 5000));
  EXPECT_EQ(boxes.Seen()[0].text, "Command failed.");
  Events().clear();
  Command(ID_TEST_APP);
  EXPECT_EQ(Events(), std::vector<std::string>{"app"});
}

class ThrowingFrame : public CFrameWnd {
 public:
  static int live;
  ThrowingFrame() { ++live; }
  ~ThrowingFrame() override { --live; }
  int OnCreate(LPCREATESTRUCTA) override { throw std::runtime_error("no frame today"); }
};
int ThrowingFrame::live = 0;

TEST_F(ExceptionBarrierTest, AWindowWhoseCreationThrowsIsNotCreatedAndDeletesItself) {
  auto* broken = new ThrowingFrame;
  EXPECT_FALSE(broken->LoadFrame(128, WS_OVERLAPPEDWINDOW));
  EXPECT_EQ(ThrowingFrame::live, 0);
}

class ThrowingDialog : public CDialog {
 public:
  ThrowingDialog() : CDialog(IDD_TEST_DIALOG) {}
  BOOL OnInitDialog() override { throw std::runtime_error("no dialog today"); }
};

TEST_F(ExceptionBarrierTest, ADialogWhoseInitialisationThrowsIsNotShown) {
  ThrowingDialog dialog;
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_EQ(dialog.m_hWnd, nullptr);
}

template <class E>
class ThrowingObject : public CCmdTarget {
 public:
  ThrowingObject() { EnableAutomation(); }
  HRESULT DispInvoke(DISPID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { throw E(); }
};

TEST(ComExceptionBarrier, AThrowingMemberFailsTheCallInsteadOfUnwindingIntoCom) {
  ThrowingObject<std::bad_alloc> outOfMemory;
  ThrowingObject<int> broken;  // not even a std::exception
  DISPPARAMS none{};
  EXPECT_EQ(outOfMemory.GetIDispatch(FALSE)->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr,
                                                     nullptr),
            E_OUTOFMEMORY);
  EXPECT_EQ(broken.GetIDispatch(FALSE)->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            E_UNEXPECTED);
}

// The program defines the library's throw helpers itself (for size): its faults still arrive as
// std::exception with the library's text, which the barrier reports, and bad_alloc stays itself.
TEST(LibraryFaults, ArriveAsStdExceptionsWithTheLibrarysText) {
  const struct {
    std::function<void()> fault;
    const char* text;
  } cases[] = {
      {[] { (void)std::string("ab").substr(5); }, "basic_string::substr: __pos (which is 5) > this->size() (which is 2)"},
      {[] { std::vector<int>(2).at(3); }, "vector::_M_range_check: __n (which is 3) >= this->size() (which is 2)"},
      {[] { std::string().reserve(std::string().max_size() + 1); }, "basic_string::_M_create"},
      {[] { (void)std::string(static_cast<const char*>(nullptr)); }, "basic_string"},
  };
  for (const auto& c : cases) {
    std::string what;
    try {
      c.fault();
    } catch (const std::exception& e) {
      what = e.what();
    }
    EXPECT_NE(what.find(c.text), std::string::npos) << "[" << what << "] " << c.text;
  }
  EXPECT_THROW(std::__throw_bad_alloc(), std::bad_alloc);
}

}  // namespace
