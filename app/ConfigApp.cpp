#include "app/ConfigApp.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QMessageBox>
#include <QShortcut>
#include <QString>

#include "ui/qt/QtConfigDialog.h"

CConfigApp::CConfigApp(kx::DeviceLibrary& library, kx::DeviceProbe& probe,
                       kx::DeviceNotificationSource& notifications)
    : m_library(library), m_probe(probe), m_notifications(notifications) {}

int CConfigApp::InitInstance() {
    // Control hosting and 3D control drawing need no enabling: Qt widgets host no ActiveX
    // controls and already draw in the platform's style.

    m_library.KX4701DllInt();  // its result carries no meaning

    kx::ui::QtConfigDialog dlg(m_library, m_probe, m_notifications);
    m_pMainWnd = &dlg;
    // The application's help command, as an accelerator of the main window.
    auto* help = new QShortcut(QKeySequence::HelpContents, &dlg);
    QObject::connect(help, &QShortcut::activated, [this] { OnHelp(); });
    if (m_dialogHook) {
        m_dialogHook(dlg);
    }
    dlg.exec();  // the dialog's result is not looked at
    m_pMainWnd = nullptr;
    return 0;
}

int CConfigApp::Run() {
    InitInstance();  // always 0: no message loop follows
    return ExitInstance();
}

void CConfigApp::OnHelp() {
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                    QString::fromUtf8(HELP_MESSAGE), QMessageBox::Ok, m_pMainWnd);
    box.exec();
}
