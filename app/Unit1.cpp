#include "app/Unit1.h"

#include "framework/Application.h"
#include "framework/Reader.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <mutex>

// The stored description, Unit1.dfm, compiled in by the build.
extern const char kUnit1Description[];

TForm1 *Form1 = nullptr;

namespace {

void RegisterClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterComponentClass<TLabel>("TLabel");
        RegisterComponentClass<TComboBox>("TComboBox");
        RegisterComponentClass<TMemo>("TMemo");
        RegisterComponentClass<TButton>("TButton");
        RegisterComponentClass<TDSTrackBar>("TDSTrackBar");
        RegisterComponentClass<TASFWriter>("TASFWriter");
        RegisterComponentClass<TFilterGraph>("TFilterGraph");
        RegisterComponentClass<TXPManifest>("TXPManifest");
        RegisterComponentClass<TSaveDialog>("TSaveDialog");
    });
}

template <class T>
void Bind(TForm1 *Form, T *&Field, const char *Name) {
    Field = dynamic_cast<T *>(Form->FindComponent(Name));
    if (!Field) throw EReadError(std::string("The window's description has no ") + Name);
}

// The window's caption names what the selected profile records.
constexpr char kCaptionSoundAndImage[] = "录制声音和图像!";
constexpr char kCaptionSoundOnly[] = "只录声音!";
constexpr char kCaptionImageOnly[] = "只录图像!";

}  // namespace

TForm1::TForm1(TComponent *AOwner) : TForm(AOwner) {
    RegisterClasses();
    ReadComponentRes(this, kUnit1Description);
    Bind(this, Label1, "Label1");
    Bind(this, Label2, "Label2");
    Bind(this, Label3, "Label3");
    Bind(this, Label4, "Label4");
    Bind(this, PFBox, "PFBox");
    Bind(this, Memo1, "Memo1");
    Bind(this, Button1, "Button1");
    Bind(this, Memo2, "Memo2");
    Bind(this, Button2, "Button2");
    Bind(this, Button3, "Button3");
    Bind(this, Button4, "Button4");
    Bind(this, DSTrackBar1, "DSTrackBar1");
    Bind(this, ASFWriter1, "ASFWriter1");
    Bind(this, FilterGraph1, "FilterGraph1");
    Bind(this, XPManifest1, "XPManifest1");
    Bind(this, SaveDialog, "SaveDialog");
    DoCreate();
}

std::any TForm1::MethodAddress(const std::string &Name) {
    using namespace std::placeholders;
    if (Name == "FormCreate") return TNotifyEvent(std::bind(&TForm1::FormCreate, this, _1));
    if (Name == "Button1Click") return TNotifyEvent(std::bind(&TForm1::Button1Click, this, _1));
    if (Name == "Button2Click") return TNotifyEvent(std::bind(&TForm1::Button2Click, this, _1));
    if (Name == "PFBoxChange") return TNotifyEvent(std::bind(&TForm1::PFBoxChange, this, _1));
    if (Name == "Button3Click") return TNotifyEvent(std::bind(&TForm1::Button3Click, this, _1));
    if (Name == "Button4Click") return TNotifyEvent(std::bind(&TForm1::Button4Click, this, _1));
    if (Name == "FormCloseQuery") return TCloseQueryEvent(std::bind(&TForm1::FormCloseQuery, this, _1, _2));
    return TForm::MethodAddress(Name);
}

void TForm1::FormCreate(TObject *Sender) {
    // The program's own selection: raises no PFBoxChange, so the caption stays.
    PFBox->SetItemIndex(wmp_V80_384Video);
    Memo2->SetText(tw::NativePath("C:\\temp.asf"));
}

void TForm1::Button1Click(TObject *Sender) { Memo1->SetText(InputBox("请输入路径:", "", "http://")); }

void TForm1::Button2Click(TObject *Sender) {
    if (SaveDialog->Execute()) Memo2->SetText(SaveDialog->FileName);
}

void TForm1::PFBoxChange(TObject *Sender) {
    const int index = PFBox->ItemIndex();
    if ((index >= 0 && index <= 14) || (index >= 24 && index <= 26)) SetCaption(kCaptionSoundAndImage);
    if (index >= 15 && index <= 21) SetCaption(kCaptionSoundOnly);
    if (index >= 22 && index <= 23) SetCaption(kCaptionImageOnly);
}

void TForm1::Button3Click(TObject *Sender) {
    if (Memo1->Text().empty()) {
        Application->MessageBox("来源不能为空!", "注意:", MB_OK);
        return;
    }
    Button1->SetEnabled(false);
    Button2->SetEnabled(false);
    Button3->SetEnabled(false);
    PFBox->SetEnabled(false);
    Label4->SetCaption("正在录制...");
    StartRecording();
}

void TForm1::StartRecording() {
    ASFWriter1->SetFileName(Memo2->Text());
    ASFWriter1->SetProfile(static_cast<TWMPofiles8>(PFBox->ItemIndex()));
    FilterGraph1->EmptyGraph();
    FilterGraph1->SetActive(true);
    FilterGraph1->EmptyGraph();
    if (FAILED(FilterGraph1->RenderSource(tw::to_wide(Memo1->Text())))) ShowMessage("RenerfileFailed!");
    if (!FilterGraph1->RunGraph()) ShowMessage("FailedPlay!");
}

void TForm1::Button4Click(TObject *Sender) {
    Button1->SetEnabled(true);
    Button2->SetEnabled(true);
    Button3->SetEnabled(true);
    PFBox->SetEnabled(true);
    Label4->SetCaption("");
    FilterGraph1->EmptyGraph();
    FilterGraph1->SetActive(false);
}

void TForm1::FormCloseQuery(TObject *Sender, bool &CanClose) {
    FilterGraph1->EmptyGraph();
    FilterGraph1->SetActive(false);
}
