// A form with one control of each kind, laid out like the program's window, to look at and
// to drive from outside (xdotool, a screenshot). Not a test: it runs until the form closes.
//   forms_demo [CAPTION]
#include "framework/Application.h"
#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

TFont Song(TColor Color = clWindowText) {
    TFont f;
    f.Name = "宋体";
    f.Height = -12;
    f.Charset = GB2312_CHARSET;
    f.Color = Color;
    return f;
}

template <class T>
T *Place(TForm *Form, int Left, int Top, int Width, int Height) {
    auto *c = new T(Form);
    c->SetParent(Form);
    c->SetBounds(Left, Top, Width, Height);
    c->SetFont(Song());
    return c;
}

}  // namespace

int main(int argc, char **argv) {
    Application->Initialize();
    Application->SetTitle("Tarnwick0.02bu");
    TForm *form;
    Application->CreateForm(form);
    form->SetCaption(argc > 1 ? argv[1] : "录制声音和图像!");
    form->SetClientWidth(404);
    form->SetClientHeight(141);

    auto *source = Place<TLabel>(form, 8, 16, 54, 12);
    source->SetCaption("媒体来源:");
    auto *memo1 = Place<TMemo>(form, 68, 12, 300, 21);
    memo1->SetReadOnly(true);
    memo1->SetColor(clSkyBlue);
    memo1->SetText("/tmp/样本.mp4");
    auto *get = Place<TButton>(form, 376, 12, 25, 21);
    get->SetCaption("Get");
    auto *params = Place<TLabel>(form, 8, 52, 54, 12);
    params->SetCaption("录制参数:");
    auto *box = Place<TComboBox>(form, 68, 48, 173, 20);
    box->SetItems({"wmp_V80_255VideoPDA", "wmp_V80_384Video", "wmp_V80_768Video"});
    box->SetItemHeight(12);
    box->SetItemIndex(1);
    auto *path = Place<TLabel>(form, 8, 88, 54, 12);
    path->SetCaption("存放路径:");
    auto *memo2 = Place<TMemo>(form, 68, 84, 300, 21);
    memo2->SetColor(clSkyBlue);
    memo2->SetText("C:\\temp.asf");
    auto *status = Place<TLabel>(form, 8, 120, 6, 12);
    status->SetFont(Song(clRed));
    status->SetColor(clActiveCaption);
    auto *record = Place<TButton>(form, 248, 116, 55, 20);
    record->SetCaption("录制");
    auto *stop = Place<TButton>(form, 312, 116, 55, 20);
    stop->SetCaption("停止");
    auto *bar = new TTrackBar(form);
    bar->SetParent(form);
    bar->SetBounds(60, 112, 150, 25);
    bar->SetMax(90);
    bar->SetPosition(30);

    // What the user does shows on the status label and on stdout, for a driver to read.
    auto say = [status](const std::string &What) {
        status->SetCaption(What);
        std::printf("%s\n", What.c_str());
        std::fflush(stdout);
    };
    record->OnClick = [say](TObject *) { say("录制中"); };
    stop->OnClick = [](TObject *) { throw std::runtime_error("Stop failed"); };
    get->OnClick = [memo1](TObject *) { memo1->SetText(InputBox("Tarnwick0.02bu", "媒体来源:", memo1->Text())); };
    box->OnChange = [say, box](TObject *) { say("item " + std::to_string(box->ItemIndex())); };
    bar->OnMouseUp = [say, bar](TObject *, TMouseButton b, TShiftState, int x, int y) {
        say("up " + std::to_string(b) + " at " + std::to_string(x) + "," + std::to_string(y) + " position " +
            std::to_string(bar->Position()));
    };
    Application->Run();
    Application->Done();
    return 0;
}
