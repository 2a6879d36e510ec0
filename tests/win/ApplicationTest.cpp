// The application object's message pump, as the command runner will use it while it waits.
#include <gtest/gtest.h>

#include "LangText.h"
#include "WindowTestSupport.h"

using namespace vcl;

namespace {

TEST(Application, ProcessMessagesDispatchesWhatIsPendingAndReturns) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  PostMessageW(form.langRG->ItemHandle(1), BM_CLICK, 0, 0);
  Application->ProcessMessages();
  EXPECT_EQ(form.langRG->ItemIndex(), 1);
  EXPECT_EQ(WindowText(form.statusLbl->Handle()), langText->Text(txtPrompt, 1));
  EXPECT_FALSE(Application->Terminated());
}

TEST(Application, TheTerminatedFlagIsSetOnceTheQuitIsDispatched) {
  TApplication app;  // a separate object, so the shared one stays usable for other tests
  app.Terminate();
  EXPECT_FALSE(app.Terminated()) << "set when the quit message is taken, not when it is asked for";
  app.ProcessMessages();
  EXPECT_TRUE(app.Terminated());
}

TEST(Application, TitleIsTheProgramsFileName) { EXPECT_EQ(Application->Title(), L"window_tests"); }

}  // namespace
