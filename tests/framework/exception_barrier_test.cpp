// The exception barrier of every callback from Windows or COM into the framework: what a handler
// throws stops there, the call is answered as failed and the application goes on.
#include <new>
#include <stdexcept>

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

}  // namespace
