// Entry point of the desktop program.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <string>

#include "ui/ui_application.h"
#include "ui/ui_help.h"
#include "ui/ui_log_console.h"
#include "ui/ui_main_window.h"
#include "ui/ui_quit_signal.h"

int main(int argc, char* argv[]) {
    if (const int answered = ui_answer_info_option(argc, argv); answered >= 0) return answered;
    ui_application_t app(argc, argv);
    // The core's console lines: the terminal, as before, and the SCPI consoles.
    ui_log_console_t::instance().install();
    // A project path given relative to the caller's directory, taken before that changes.
    const std::string path =
        argc >= 2 ? QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath().toLocal8Bit().toStdString()
                  : std::string();
    // Every relative path of the program (default project, help files, file dialogs)
    // is resolved against the executable's directory.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    ui_application_t::install_style_and_font();
    ui_application_t::install_window_icon();

    ui_main_window_t main_window(path);
    // SIGTERM and Ctrl+C close the window like its close button, so shutdown is one path
    // (without the question about running instruments: nobody may be there to answer).
    ui_quit_signal_t quit_signal;
    QObject::connect(&quit_signal, &ui_quit_signal_t::signal_quit_requested, &main_window,
                     &ui_main_window_t::slot_close_without_asking);
    main_window.show();
    // A project named on the command line (the desktop opens .dmm files this way).
    main_window.open_start_project(path);
    // A quit asked for while the start was still busy (a box about the project was open)
    // has closed the window already: there is no loop left to run.
    if (!main_window.isVisible()) return 0;
    return app.exec();
}
