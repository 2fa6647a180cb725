// The framework's classes over the real peer of the target (Qt Widgets on Linux, Win32
// controls on Windows): what the program does raises no event, a label's size, a form's
// size and close query, and forms read from stored descriptions.
#include "framework/Application.h"
#include "framework/ComCtrls.h"
#include "framework/Forms.h"
#include "framework/Reader.h"
#include "framework/StdCtrls.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

TFont Song(int Height = -12) {
    TFont f;
    f.Name = "宋体";
    f.Height = Height;
    f.Charset = GB2312_CHARSET;
    return f;
}

// Counts every event a control raises.
struct Events {
    int clicks = 0, changes = 0, downs = 0, ups = 0;
    TNotifyEvent Click() {
        return [this](TObject *) { ++clicks; };
    }
    TNotifyEvent Change() {
        return [this](TObject *) { ++changes; };
    }
    TMouseEvent Down() {
        return [this](TObject *, TMouseButton, TShiftState, int, int) { ++downs; };
    }
};

}  // namespace

TEST(Forms, WhatTheProgramSetsRaisesNoEvent) {
    auto form = std::make_unique<TForm>(nullptr);
    Events e;
    auto *box = new TComboBox(form.get());
    box->SetParent(form.get());
    box->OnChange = e.Change();
    auto *memo = new TMemo(form.get());
    memo->SetParent(form.get());
    memo->OnChange = e.Change();
    auto *bar = new TTrackBar(form.get());
    bar->SetParent(form.get());
    bar->OnChange = e.Change();
    auto *button = new TButton(form.get());
    button->SetParent(form.get());
    button->OnClick = e.Click();
    form->Show();

    box->SetItems({"a", "b", "c"});
    box->SetItemIndex(2);
    EXPECT_EQ(box->ItemIndex(), 2);
    box->SetItemIndex(7);  // out of range: no selection
    EXPECT_EQ(box->ItemIndex(), -1);
    memo->SetText("one\r\ntwo");
    memo->SetLines({"x"});
    bar->SetMax(90);
    bar->SetPosition(45);
    bar->SetMax(20);  // pulls the position in
    EXPECT_EQ(bar->Position(), 20);
    bar->SetPosition(-5);
    EXPECT_EQ(bar->Position(), 0);
    button->SetCaption("Go");
    tw::ui::ProcessMessages();
    EXPECT_EQ(e.changes, 0);
    EXPECT_EQ(e.clicks, 0);
}

TEST(Forms, MemoKeepsLinesJoinedWithCarriageReturnLineFeed) {
    auto form = std::make_unique<TForm>(nullptr);
    auto *memo = new TMemo(form.get());
    memo->SetParent(form.get());
    memo->SetText("C:\\temp.asf");
    EXPECT_EQ(memo->Text(), "C:\\temp.asf");
    memo->SetLines({"一", "", "three"});
    EXPECT_EQ(memo->Text(), "一\r\n\r\nthree\r\n");
    EXPECT_EQ(memo->Lines(), (std::vector<std::string>{"一", "", "three"}));
}

TEST(Forms, LabelSizesItselfToItsTextAndAnEmptyOneToOneBlank) {
    auto form = std::make_unique<TForm>(nullptr);
    auto *label = new TLabel(form.get());
    label->SetParent(form.get());
    label->SetFont(Song());
    const TRect blank = label->Peer()->TextExtent(" ", Song());
    ASSERT_GT(blank.Width(), 0);
    EXPECT_EQ(label->Width(), blank.Width());
    EXPECT_EQ(label->Height(), blank.Height());

    label->SetCaption("录制参数:");
    const int oneLine = label->Width();
    EXPECT_GT(oneLine, 4 * blank.Width());
    EXPECT_EQ(label->Peer()->NativeBounds().Width(), oneLine);
    label->SetFont(Song(-24));
    EXPECT_GT(label->Width(), oneLine);
    EXPECT_GT(label->Height(), blank.Height());

    label->SetCaption("");
    EXPECT_EQ(label->Width(), label->Peer()->TextExtent(" ", Song(-24)).Width());
    EXPECT_GT(label->Width(), 0);
}

TEST(Forms, FormShowsItsClientSizeAndDisabledControlsAreDisabledNatively) {
    auto form = std::make_unique<TForm>(nullptr);
    form->SetClientWidth(404);
    form->SetClientHeight(141);
    auto *bar = new TTrackBar(form.get());
    bar->SetParent(form.get());
    bar->SetBounds(60, 112, 150, 25);
    bar->SetEnabled(false);
    form->Show();
    tw::ui::ProcessMessages();
    const TRect client = form->Peer()->NativeBounds();
    EXPECT_EQ(client.Width(), 404);
    EXPECT_EQ(client.Height(), 141);
    EXPECT_EQ(bar->Peer()->NativeBounds(), (TRect{60, 112, 210, 137}));
    EXPECT_FALSE(bar->Peer()->NativeEnabled());
    bar->SetEnabled(true);
    EXPECT_TRUE(bar->Peer()->NativeEnabled());
}

TEST(Forms, CloseQueryCanRefuseAndAFailingOneKeepsTheFormOpen) {
    auto form = std::make_unique<TForm>(nullptr);
    std::vector<std::string> reports;
    Application->OnException = [&](TObject *, const std::string &m) { reports.push_back(m); };
    bool allow = false;
    int asked = 0;
    form->OnCloseQuery = [&](TObject *, bool &CanClose) {
        ++asked;
        CanClose = allow;
    };
    form->Show();
    form->Close();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(form->Showing());

    form->OnCloseQuery = [](TObject *, bool &) { throw std::runtime_error("Busy"); };
    form->Close();
    EXPECT_TRUE(form->Showing());
    EXPECT_EQ(reports, (std::vector<std::string>{"Busy."}));

    form->OnCloseQuery = [&](TObject *, bool &CanClose) {
        ++asked;
        CanClose = allow = true;
    };
    form->Close();
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(form->Showing());
    Application->OnException = nullptr;
}

// ---- Stored descriptions.

namespace {

// A component that refers to another by name, as a track bar names its graph.
class TBuddy : public TComponent {
public:
    using TComponent::TComponent;
    TComponent *Target = nullptr;
    bool ReadProperty(TReader &Reader, const std::string &Name) override {
        if (Name != "Target") return TComponent::ReadProperty(Reader, Name);
        Reader.ReadReference([this](TComponent *C) { Target = C; });
        return true;
    }
};

class TTestForm : public TForm {
public:
    explicit TTestForm(TComponent *AOwner) : TForm(AOwner) {}
    int created = 0, clicked = 0;
    std::any MethodAddress(const std::string &Name) override {
        if (Name == "FormCreate") return TNotifyEvent([this](TObject *) { ++created; });
        if (Name == "Button1Click") return TNotifyEvent([this](TObject *) { ++clicked; });
        return TForm::MethodAddress(Name);
    }
};

void RegisterClasses() {
    RegisterComponentClass<TLabel>("TLabel");
    RegisterComponentClass<TButton>("TButton");
    RegisterComponentClass<TComboBox>("TComboBox");
    RegisterComponentClass<TBuddy>("TBuddy");
}

const char kDescription[] = R"(object Form1: TTestForm
  Caption = 'It''s 录制'
  ClientWidth = 200
  ClientHeight = 80
  Color = clBtnFace
  Font.Name = 'MS Sans Serif'
  Font.Height = -11
  OnCreate = FormCreate
  object Buddy1: TBuddy
    Target = Button1
  end
  object Label1: TLabel
    Left = 8
    Top = 10
    Caption = '媒体来源:'
    Font.Name = '宋体'
    Font.Height = -12
    Font.Charset = GB2312_CHARSET
  end
  object Button1: TButton
    Left = 100
    Top = 40
    Width = 55
    Height = 20
    Caption = 'Get'
    TabOrder = 0
    OnClick = Button1Click
  end
  object Box1: TComboBox
    Items.Strings = ('a' 'b')
    ItemIndex = 1
    TabOrder = 1
  end
end
)";

}  // namespace

TEST(Forms, DescriptionCreatesTheFormWithHandlersAndReferences) {
    RegisterClasses();
    TTestForm form(nullptr);
    ReadComponentRes(&form, kDescription);
    form.DoCreate();
    EXPECT_EQ(form.created, 1);
    EXPECT_EQ(form.Caption(), "It's 录制");
    EXPECT_EQ(form.ClientWidth(), 200);
    ASSERT_EQ(form.ComponentCount(), 4);
    auto *buddy = dynamic_cast<TBuddy *>(form.Components(0));
    auto *label = dynamic_cast<TLabel *>(form.Components(1));
    auto *button = dynamic_cast<TButton *>(form.Components(2));
    auto *box = dynamic_cast<TComboBox *>(form.Components(3));
    ASSERT_TRUE(buddy && label && button && box);
    EXPECT_EQ(buddy->Target, button);
    EXPECT_EQ(label->Parent(), &form);
    EXPECT_EQ(label->Font().Name, "宋体");
    EXPECT_EQ(button->Font().Name, "MS Sans Serif");  // the form's
    EXPECT_GT(label->Width(), 0);
    EXPECT_EQ(box->ItemIndex(), 1);
    EXPECT_EQ(form.TabOrderList(), (std::vector<TControl *>{button, box}));
    ASSERT_TRUE(button->OnClick);
    button->OnClick(button);
    EXPECT_EQ(form.clicked, 1);
}

TEST(Forms, DescriptionErrorsNameTheLineAndTheProperty) {
    RegisterClasses();
    struct Case {
        std::string text, message;
    } cases[] = {
        {"object F: TTestForm\n  Colour = clRed\nend\n", "Error reading line 2, F.Colour: Property Colour does not exist"},
        {"object F: TTestForm\n  object B: TBuddy\n    Target = Nobody\n  end\nend\n",
         "Error reading line 3, B.Target: Invalid property value: no component named Nobody"},
        {"object F: TTestForm\n  OnCreate = Missing\nend\n", "Error reading line 2, F.OnCreate: Invalid property value"},
        {"object F: TTestForm\n  object X: TPanel\n  end\nend\n", "Error reading line 2, X: Class TPanel not found"},
    };
    for (const Case &c : cases) {
        TTestForm form(nullptr);
        try {
            ReadComponentRes(&form, c.text);
            ADD_FAILURE() << "no error for: " << c.text;
        } catch (const EReadError &e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}
