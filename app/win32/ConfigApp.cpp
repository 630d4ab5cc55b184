#include "app/win32/ConfigApp.h"

#include "ui/win32/Win32ConfigDialog.h"

int CConfigApp::InitInstance() {
    // Control hosting and 3D control drawing need no enabling: the program hosts no ActiveX
    // controls, and the system draws its controls in its own style.

    m_library.KX4701DllInt();  // its result carries no meaning

    kx::ui::Win32ConfigDialog dlg(m_library, m_probe);
    if (m_dialogHook) {
        m_dialogHook(dlg);
    }
    dlg.DoModal();  // the dialog's result is not looked at
    return 0;
}

int CConfigApp::Run() {
    InitInstance();  // always 0: no message loop follows
    return 0;
}
