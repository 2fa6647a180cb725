// Tarnwick: the program. Reads no command line; ends with exit code 0 after a normal end.
#include "app/Unit1.h"
#include "framework/Application.h"

int main() {
    Application->Initialize();
    Application->SetTitle("Tarnwick0.02bu");
    Application->CreateForm(Form1);
    Application->Run();
    Application->Done();
    return 0;
}
