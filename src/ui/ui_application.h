// The application object and the process-wide look (style sheet, font, program icon).
#pragma once

#include <QApplication>

class ui_application_t : public QApplication {
    Q_OBJECT
public:
    ui_application_t(int& argc, char** argv);

    // Every event passes through here unchanged; the one place to watch all of them.
    bool notify(QObject* receiver, QEvent* event) override;

    // Installs the embedded dark style sheet and makes the embedded Open Sans the
    // application font. Needs a QApplication; main and the tests share it. Returns false
    // when a resource is missing (the program then runs with Qt's defaults for it).
    static bool install_style_and_font();

    // Gives every window the embedded program icon.
    static void install_window_icon();
};
