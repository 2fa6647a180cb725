// TForm1: the main window. Choose a source, an output file and a profile; record; stop.
//
// The window is created from its stored description (Unit1.dfm): every control and component
// with its values, in creation order. The recording state lives in the controls alone: Idle
// has the inputs enabled and the status label empty; Recording has them disabled and the
// status label showing "正在录制...". Stop (Button4) and closing the window empty and
// deactivate the graph, which finishes the file.
//
// Threads: the user-interface thread only.
#pragma once

#include "dsgraph/ASFWriter.h"
#include "dsgraph/DSTrackBar.h"
#include "dsgraph/FilterGraph.h"
#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "framework/XPMan.h"

class TForm1 : public TForm {
public:
    // Reads the stored description, resolves the references between the components (which
    // attaches the writer and the track bar to the graph), then runs FormCreate.
    explicit TForm1(TComponent *AOwner);

    // Controls and components, found by name once the description has been read; owned by the
    // form as its components.
    TLabel *Label1 = nullptr;
    TLabel *Label2 = nullptr;
    TLabel *Label3 = nullptr;
    TLabel *Label4 = nullptr;
    TComboBox *PFBox = nullptr;
    TMemo *Memo1 = nullptr;
    TButton *Button1 = nullptr;
    TMemo *Memo2 = nullptr;
    TButton *Button2 = nullptr;
    TButton *Button3 = nullptr;
    TButton *Button4 = nullptr;
    TDSTrackBar *DSTrackBar1 = nullptr;
    TASFWriter *ASFWriter1 = nullptr;
    TFilterGraph *FilterGraph1 = nullptr;
    TXPManifest *XPManifest1 = nullptr;
    TSaveDialog *SaveDialog = nullptr;

    // Handlers, bound by name in the description.
    void FormCreate(TObject *Sender);
    void Button1Click(TObject *Sender);
    void Button2Click(TObject *Sender);
    void PFBoxChange(TObject *Sender);
    void Button3Click(TObject *Sender);
    void Button4Click(TObject *Sender);
    void FormCloseQuery(TObject *Sender, bool &CanClose);

    std::any MethodAddress(const std::string &Name) override;

private:
    void StartRecording();
};

extern TForm1 *Form1;
