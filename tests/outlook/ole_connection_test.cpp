// AfxConnectionAdvise/Unadvise and the sink's Advise/Unadvise against an in-process source whose
// every step can fail, with exact reference counts on both sides.
#include <gtest/gtest.h>

#include "agent/calls/reminder_call.h"
#include "agent/framework/ole/ole.h"
#include "agent/outlook/outlook_objects.h"
#include "agent/outlook/reminder_sink.h"
#include "tests/support/outlook_double.h"

namespace {

using outlook_double::FakeEventSource;

TEST(ConnectionAdvise, WithoutRefCountTheConnectionDoesNotHoldTheSink) {
  COlSink* sink = new COlSink(nullptr, nullptr, CurrentLocalOleDate);
  IDispatch* dispatch = sink->GetIDispatch(FALSE);
  FakeEventSource source(IID_ApplicationEvents);

  DWORD cookie = 0;
  ASSERT_TRUE(AfxConnectionAdvise(source.AsUnknown(), IID_ApplicationEvents, dispatch, FALSE, &cookie));
  EXPECT_EQ(cookie, 7u);
  EXPECT_EQ(source.Sink(), dispatch);
  EXPECT_EQ(sink->RefCount(), 1u);
  EXPECT_EQ(source.Refs(), 1u);  // the container and the point were released again

  ASSERT_TRUE(AfxConnectionUnadvise(source.AsUnknown(), IID_ApplicationEvents, dispatch, FALSE, cookie));
  EXPECT_EQ(source.Sink(), nullptr);
  EXPECT_EQ(sink->RefCount(), 1u);
  EXPECT_EQ(source.Refs(), 1u);
  dispatch->Release();  // the creator's reference: deletes the sink
}

TEST(ConnectionAdvise, WithRefCountTheConnectionHoldsTheSink) {
  COlSink* sink = new COlSink(nullptr, nullptr, CurrentLocalOleDate);
  IDispatch* dispatch = sink->GetIDispatch(FALSE);
  FakeEventSource source(IID_ApplicationEvents);
  DWORD cookie = 0;
  ASSERT_TRUE(AfxConnectionAdvise(source.AsUnknown(), IID_ApplicationEvents, dispatch, TRUE, &cookie));
  EXPECT_EQ(sink->RefCount(), 2u);
  ASSERT_TRUE(AfxConnectionUnadvise(source.AsUnknown(), IID_ApplicationEvents, dispatch, TRUE, cookie));
  EXPECT_EQ(sink->RefCount(), 1u);
  dispatch->Release();
}

TEST(ConnectionAdvise, EveryFailingStepFailsTheAdviceAndLeavesTheCountsAlone) {
  struct Row {
    const char* name;
    bool container, point;
    HRESULT advise;
    const IID* iid;
  };
  const Row rows[] = {
      {"no container", false, true, S_OK, &IID_ApplicationEvents},
      {"no connection point", true, false, S_OK, &IID_ApplicationEvents},
      {"point for another interface", true, true, S_OK, &IID_IDispatch},
      {"advice refused", true, true, CONNECT_E_ADVISELIMIT, &IID_ApplicationEvents},
  };
  COlSink* sink = new COlSink(nullptr, nullptr, CurrentLocalOleDate);
  IDispatch* dispatch = sink->GetIDispatch(FALSE);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeEventSource source(IID_ApplicationEvents);
    source.offerContainer = row.container;
    source.offerPoint = row.point;
    source.adviseResult = row.advise;
    DWORD cookie = 0;
    EXPECT_FALSE(AfxConnectionAdvise(source.AsUnknown(), *row.iid, dispatch, FALSE, &cookie));
    EXPECT_EQ(sink->RefCount(), 1u);
    EXPECT_EQ(source.Refs(), 1u);
    EXPECT_EQ(source.Sink(), nullptr);
  }
  DWORD cookie = 0;
  EXPECT_FALSE(AfxConnectionAdvise(nullptr, IID_ApplicationEvents, dispatch, FALSE, &cookie));
  dispatch->Release();
}

TEST(ConnectionAdvise, AFailedUnadviseKeepsTheSinksCount) {
  COlSink* sink = new COlSink(nullptr, nullptr, CurrentLocalOleDate);
  IDispatch* dispatch = sink->GetIDispatch(FALSE);
  FakeEventSource source(IID_ApplicationEvents);
  DWORD cookie = 0;
  ASSERT_TRUE(AfxConnectionAdvise(source.AsUnknown(), IID_ApplicationEvents, dispatch, FALSE, &cookie));
  source.unadviseResult = CONNECT_E_NOCONNECTION;
  EXPECT_FALSE(AfxConnectionUnadvise(source.AsUnknown(), IID_ApplicationEvents, dispatch, FALSE, cookie));
  EXPECT_EQ(sink->RefCount(), 1u);
  EXPECT_EQ(source.Sink(), dispatch);  // still connected
  source.unadviseResult = S_OK;
  EXPECT_TRUE(AfxConnectionUnadvise(source.AsUnknown(), IID_ApplicationEvents, dispatch, FALSE, cookie));
  dispatch->Release();
}

TEST(OutlookSink, AdviseHoldsTheSourceAndTheSourceDoesNotHoldTheSink) {
  COlSink* sink = new COlSink(nullptr, nullptr, CurrentLocalOleDate);
  FakeEventSource source(IID_ApplicationEvents);

  EXPECT_TRUE(sink->Advise(source.AsUnknown()));
  EXPECT_EQ(source.Refs(), 2u);  // the sink's m_pSource
  EXPECT_EQ(sink->Source(), source.AsUnknown());
  EXPECT_EQ(source.Sink(), sink->GetIDispatch(FALSE));
  // Only the owner's reference: the connection point's own was returned at once, so the owner
  // unadvises before it lets go.
  EXPECT_EQ(sink->RefCount(), 1u);

  sink->Unadvise();
  EXPECT_EQ(source.Sink(), nullptr);
  EXPECT_EQ(source.Refs(), 1u);
  EXPECT_EQ(sink->Source(), nullptr);
  EXPECT_EQ(sink->RefCount(), 1u);
  sink->Unadvise();  // a second call does nothing
  EXPECT_EQ(source.Refs(), 1u);
  EXPECT_EQ(sink->RefCount(), 1u);
  sink->Release();  // deletes it
}

// Start-up ends after a refused advice: the sink keeps nothing of the source, and a later
// Unadvise finds nothing to undo.
TEST(OutlookSink, ARefusedAdviceKeepsNothingOfTheSource) {
  COlSink* sink = new COlSink(nullptr, nullptr, CurrentLocalOleDate);
  FakeEventSource source(IID_ApplicationEvents);
  source.offerPoint = false;
  EXPECT_FALSE(sink->Advise(source.AsUnknown()));
  EXPECT_EQ(source.Refs(), 1u);
  EXPECT_EQ(sink->Source(), nullptr);
  sink->Unadvise();
  EXPECT_EQ(source.Refs(), 1u);
  sink->Release();
}

TEST(OutlookSink, AnswersTheEventInterfaceAndOnlyTheReminderAndQuitMembers) {
  const win::ComPtr<COlSink> sink = win::ComPtr<COlSink>::Attach(new COlSink(nullptr, nullptr, CurrentLocalOleDate));
  IDispatch* dispatch = sink->GetIDispatch(FALSE);
  ASSERT_NE(dispatch, nullptr);
  const ULONG before = sink->RefCount();

  void* events = nullptr;
  ASSERT_EQ(dispatch->QueryInterface(IID_ApplicationEvents, &events), S_OK);
  EXPECT_EQ(events, dispatch);
  static_cast<IUnknown*>(events)->Release();

  wchar_t name[] = L"reminder";
  LPOLESTR names[] = {name};
  DISPID dispid = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &dispid), S_OK);
  EXPECT_EQ(dispid, 0xF004);

  // Any other event of the interface: not handled, no effect.
  const DISPID others[] = {0xF001, 0xF002, 0xF003, 0xF005, 0xF006, 0xF008, 0, 1};
  for (DISPID other : others) {
    VARIANTARG arg;
    VariantInit(&arg);
    DISPPARAMS params{&arg, nullptr, 1, 0};
    EXPECT_EQ(dispatch->Invoke(other, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND)
        << other;
  }
  // Reminder with something that is not an item.
  VARIANTARG number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = 3;
  DISPPARAMS params{&number, nullptr, 1, 0};
  EXPECT_EQ(dispatch->Invoke(0xF004, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(sink->RefCount(), before);
}

// Quit (no arguments) reports Outlook's end once, however often it comes; with an argument it is
// not Quit.
TEST(OutlookSink, QuitReportsTheEndOnce) {
  const win::ComPtr<COlSink> sink = win::ComPtr<COlSink>::Attach(new COlSink(nullptr, nullptr, CurrentLocalOleDate));
  int ended = 0;
  sink->SetEnded([&ended] { ++ended; });
  IDispatch* dispatch = sink->GetIDispatch(FALSE);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANTARG arg;
  VariantInit(&arg);
  DISPPARAMS one{&arg, nullptr, 1, 0};
  EXPECT_EQ(dispatch->Invoke(0xF007, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(ended, 0);
  EXPECT_EQ(dispatch->Invoke(0xF007, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(dispatch->Invoke(0xF007, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(ended, 1);
}

}  // namespace
