// The main window through the real peer of the target: its stored values, the rectangles of
// its controls, and the handlers' states and texts. Rendering into a graph is exercised with
// sources that fail to render, so these tests need no media; the recording itself is the
// end-to-end test beside this one.
#include "app/Unit1.h"

#include "framework/Application.h"
#include "platform/paths.h"
#include "support/UiDriver.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

using tw::test::Click;

namespace {

// What a modal box showed: its caption, its message (a message box's) and its field (an input
// box's, as it was when the box opened).
struct Seen {
    bool opened = false;
    std::string caption, message, field;
    bool errorIcon = false;
};
enum class Reply { Ok, Cancel, Close };

// Runs Action and answers the box captioned Caption that it opens: the field replaced by Field
// when given, then OK, Cancel or the close box.
Seen AnswerBox(const std::string &Caption, const std::function<void()> &Action, Reply R,
               std::optional<std::string> Field = std::nullopt) {
    Seen seen;
    tw::test::WhenBoxOpens box(Caption, [&](const tw::test::BoxAccess &b) {
        seen = {true, b.Caption(), b.Message(), b.Field(), b.ErrorIcon()};
        if (Field) {
            b.ClearField();
            b.Type(*Field);
        }
        if (R == Reply::Close)
            b.CloseBox();
        else
            b.Press(R == Reply::Ok ? tw::test::Answer::Ok : tw::test::Answer::Cancel);
    });
    Action();
    seen.opened = box.Wait() && seen.opened;
    return seen;
}

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        Application->SetTitle("Tarnwick0.02bu");
        form.reset(new TForm1(nullptr));
        ASSERT_TRUE(tw::test::ShowForm(form.get()));
    }
    void TearDown() override {
        form.reset();
        Application->Done();
    }

    bool Idle() const {
        return form->Button1->Enabled() && form->Button2->Enabled() && form->Button3->Enabled() &&
               form->PFBox->Enabled() && form->Label4->Caption().empty();
    }
    bool Recording() const {
        return !form->Button1->Enabled() && !form->Button2->Enabled() && !form->Button3->Enabled() &&
               !form->PFBox->Enabled() && form->Label4->Caption() == "正在录制...";
    }

    std::unique_ptr<TForm1> form;
};

TEST_F(Form1Test, StartsIdleWithItsStoredValues) {
    EXPECT_EQ(form->Caption(), "录制声音和图像!");
    EXPECT_EQ(form->ClientWidth(), 404);
    EXPECT_EQ(form->ClientHeight(), 141);
    EXPECT_EQ(form->Position(), poScreenCenter);
    ASSERT_EQ(form->PFBox->Items().size(), 27u);
    for (int i = 0; i < 27; ++i) EXPECT_EQ(form->PFBox->Items()[i], tw::ProfileNames[i]);
    EXPECT_EQ(form->PFBox->ItemIndex(), 9);
    EXPECT_EQ(form->PFBox->Items()[9], "wmp_V80_384Video");
    // The writer gets the list's profile only when a recording starts.
    EXPECT_EQ(form->ASFWriter1->Profile(), wmp_V80_255VideoPDA);
    const std::string initial = tw::NativePath("C:\\temp.asf");
    EXPECT_EQ(form->Memo2->Text(), initial);  // no line break after it
    EXPECT_EQ(form->ASFWriter1->FileName(), initial);
    EXPECT_EQ(form->ASFWriter1->Port(), 0u);
    EXPECT_EQ(form->ASFWriter1->MaxUsers(), 0u);
    EXPECT_EQ(form->ASFWriter1->FilterGraph(), form->FilterGraph1);
    EXPECT_EQ(form->DSTrackBar1->FilterGraph(), form->FilterGraph1);
    EXPECT_EQ(form->FilterGraph1->Mode(), gmCapture);
    EXPECT_TRUE(form->FilterGraph1->GraphEdit());
    EXPECT_FALSE(form->FilterGraph1->Active());
    EXPECT_FALSE(form->DSTrackBar1->Enabled());
    EXPECT_TRUE(form->Memo1->ReadOnly());
    EXPECT_TRUE(form->Memo1->Text().empty());
    EXPECT_EQ(form->Memo1->Color(), clSkyBlue);
    EXPECT_EQ(form->Label4->Color(), clActiveCaption);
    EXPECT_EQ(form->Label4->Font().Color, clRed);
    EXPECT_EQ(form->Label2->Font().Charset, GB2312_CHARSET);
    EXPECT_EQ(form->Button3->Font().Charset, ANSI_CHARSET);
    EXPECT_EQ(form->Font().Name, "MS Sans Serif");
    EXPECT_TRUE(Idle());

    std::vector<std::string> tabs;
    for (TControl *c : form->TabOrderList()) tabs.push_back(c->Name());
    EXPECT_EQ(tabs, (std::vector<std::string>{"PFBox", "Memo1", "Button1", "Memo2", "Button2", "Button3", "Button4",
                                              "DSTrackBar1"}));
}

TEST_F(Form1Test, ControlsStandWhereTheWindowDescribesThem) {
    struct Place {
        TControl *control;
        TRect rect;
    };
    const Place places[] = {
        {form->Memo1, {68, 12, 368, 33}},
        {form->Button1, {376, 12, 401, 33}},           {form->Memo2, {68, 84, 368, 105}},
        {form->Button2, {376, 84, 401, 105}},          {form->Button3, {248, 116, 303, 136}},
        {form->Button4, {312, 116, 367, 136}},         {form->DSTrackBar1, {60, 112, 210, 137}},
    };
    tw::ui::ProcessMessages();
    for (const Place &p : places) {
        const TRect r = p.control->Peer()->NativeBounds();
        EXPECT_EQ(r, p.rect) << p.control->Name() << ": " << r.Left << "," << r.Top << " " << r.Width() << "x"
                             << r.Height();
    }
    // The labels size themselves to their text, and the system sizes a drop-down list's closed
    // box by its font: in the installed CJK font, whose advance widths and line height may
    // differ from SimSun's by a few pixels, their corner is exact.
    const Place labels[] = {{form->PFBox, {68, 48, 68 + 173, 48 + 20}},
                            {form->Label1, {8, 52, 62, 64}},
                            {form->Label2, {8, 16, 62, 28}},
                            {form->Label3, {8, 88, 62, 100}},
                            {form->Label4, {8, 120, 14, 132}}};
    for (const Place &p : labels) {
        const TRect r = p.control->Peer()->NativeBounds();
        EXPECT_EQ(r.Left, p.rect.Left) << p.control->Name();
        EXPECT_EQ(r.Top, p.rect.Top) << p.control->Name();
        EXPECT_NEAR(r.Width(), p.rect.Width(), 6) << p.control->Name();
        EXPECT_NEAR(r.Height(), p.rect.Height(), 6) << p.control->Name();
    }
    // An empty status label still covers one blank.
    EXPECT_GT(form->Label4->Peer()->NativeBounds().Width(), 0);
    const TRect client = form->Peer()->NativeBounds();
    EXPECT_EQ(client.Width(), 404);
    EXPECT_EQ(client.Height(), 141);
    form->Hide();
}

TEST_F(Form1Test, EmptySourceShowsTheWarningAndChangesNothing) {
    const Seen seen = AnswerBox("注意:", [&] { Click(form->Button3); }, Reply::Ok);
    EXPECT_TRUE(seen.opened);
    EXPECT_EQ(seen.caption, "注意:");
    EXPECT_EQ(seen.message, "来源不能为空!");
    EXPECT_FALSE(seen.errorIcon);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(form->FilterGraph1->Active());
}

TEST_F(Form1Test, TheInputBoxSetsTheSource) {
    // OK gives the text as typed, blanks and all.
    const std::string box = "请输入路径:";
    Seen seen = AnswerBox(box, [&] { Click(form->Button1); }, Reply::Ok, std::string("  "));
    EXPECT_TRUE(seen.opened);
    EXPECT_EQ(seen.message, "");
    EXPECT_EQ(seen.field, "http://");
    EXPECT_EQ(form->Memo1->Text(), "  ");
    // Cancel and closing give "http://", replacing the previous source.
    AnswerBox(box, [&] { Click(form->Button1); }, Reply::Cancel, std::string("ignored"));
    EXPECT_EQ(form->Memo1->Text(), "http://");
    form->Memo1->SetText("x");
    AnswerBox(box, [&] { Click(form->Button1); }, Reply::Close);
    EXPECT_EQ(form->Memo1->Text(), "http://");
    // OK on a cleared field empties the source: record then only warns.
    AnswerBox(box, [&] { Click(form->Button1); }, Reply::Ok, std::string());
    EXPECT_EQ(form->Memo1->Text(), "");
    seen = AnswerBox("注意:", [&] { Click(form->Button3); }, Reply::Ok);
    EXPECT_EQ(seen.message, "来源不能为空!");
    EXPECT_TRUE(Idle());
}

TEST_F(Form1Test, TheCaptionFollowsOnlyTheUsersChoice) {
    form->PFBox->SetItemIndex(16);  // the program's choice: no change event
    EXPECT_EQ(form->Caption(), "录制声音和图像!");
    tw::test::Choose(form->PFBox, 16);
    EXPECT_EQ(form->Caption(), "只录声音!");
    tw::test::Choose(form->PFBox, 23);
    EXPECT_EQ(form->Caption(), "只录图像!");
    tw::test::Choose(form->PFBox, 25);
    EXPECT_EQ(form->Caption(), "录制声音和图像!");
}

TEST_F(Form1Test, StopWhileIdleRaisesNothing) {
    form->Label4->SetCaption("x");
    Click(form->Button4);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(form->FilterGraph1->Active());
}

TEST_F(Form1Test, AFailureWhileRecordingIsReportedAndLeavesRecordingUntilStop) {
    // A source that cannot be rendered: the graph raises, the standard report shows it, and
    // the window stays in Recording with the graph active.
    form->Memo1->SetText("/nonexistent/tarnwick-test-source.mp4");
    const Seen seen = AnswerBox("Tarnwick0.02bu", [&] { Click(form->Button3); }, Reply::Ok);
    EXPECT_TRUE(seen.opened);
    EXPECT_EQ(seen.caption, "Tarnwick0.02bu");
    EXPECT_TRUE(seen.errorIcon);
    ASSERT_FALSE(seen.message.empty());
    EXPECT_EQ(seen.message.back(), '.');
    EXPECT_NE(seen.message.find("($"), std::string::npos) << seen.message;
    EXPECT_TRUE(Recording());
    EXPECT_TRUE(form->FilterGraph1->Active());
    // The output path reached the writer unchanged, the profile from the list.
    EXPECT_EQ(form->ASFWriter1->FileName(), form->Memo2->Text());
    Click(form->Button4);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(form->FilterGraph1->Active());
}

TEST_F(Form1Test, ClosingEmptiesAndDeactivatesTheGraph) {
    form->FilterGraph1->SetActive(true);
    form->Close();
    tw::ui::ProcessMessages();
    EXPECT_FALSE(form->FilterGraph1->Active());
    EXPECT_FALSE(form->Showing());
}

}  // namespace
