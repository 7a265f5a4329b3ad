#include "ui/ui_menu_bar.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

#include "ui/ui_about_window.h"
#include "ui/ui_file_places.h"
#include "ui/ui_add_device_dialog.h"
#include "ui/ui_control_window.h"
#include "ui/ui_help.h"
#include "ui/ui_help_window.h"
#include "ui/ui_lab_window.h"
#include "ui/ui_preferences.h"

ui_menu_bar_t::ui_menu_bar_t(ui_device_column_t* column, QWidget* parent)
    : QMenuBar(parent), m_pcolumn(column) {
    setObjectName("menu_bar");

    QMenu* instrument = addMenu("&Instrument");
    instrument->setMinimumWidth(220);
    m_add = instrument->addAction("Add");
    m_add->setShortcut(QKeySequence("Ctrl+A"));
    m_add->setStatusTip("Add an instrument");
    m_delete_all = instrument->addAction("Delete All");
    m_delete_all->setShortcut(QKeySequence("Ctrl+D"));
    m_delete_all->setStatusTip("Delete all instrument");
    instrument->addSeparator();
    m_preferences = instrument->addAction("Preferences");
    m_preferences->setStatusTip("Where the search looks for instruments");
    m_lab = instrument->addAction("Lab");
    m_lab->setStatusTip("Every bench publishing to an MQTT broker, live");
    instrument->addSeparator();
    m_quit = instrument->addAction("&Quit");
    m_quit->setShortcut(QKeySequence("Ctrl+Q"));  // QKeySequence::Quit is empty on some platforms
    m_quit->setStatusTip("Close the program");

    // The titles carry mnemonics: Alt+I, Alt+P, Alt+C, Alt+A, Alt+H open them.
    QMenu* project = addMenu("&Project");
    project->setMinimumWidth(200);
    m_save = project->addAction("Save");
    m_save->setShortcut(QKeySequence("Ctrl+S"));
    m_recall = project->addAction("Recall");
    m_recall->setShortcut(QKeySequence("Ctrl+R"));
    m_recent = project->addMenu("Recent");
    m_recent->setObjectName("recent_projects_menu");
    // Filled when it opens, so projects saved from elsewhere show up too.
    connect(project, &QMenu::aboutToShow, this, &ui_menu_bar_t::_fill_recent);
    _fill_recent();

    m_control = addAction("&Control");
    m_about = addAction("&About");

    QMenu* help = addMenu("&Help");
    QMenu* document = help->addMenu("Document");
    m_chinese = document->addAction("Chinese");
    m_english = document->addAction("English");
    m_website = help->addAction("Website");

    // Shortcuts work from anywhere in the main window, menus open or not.
    for (QAction* action : {m_add, m_delete_all, m_save, m_recall, m_quit})
        action->setShortcutContext(Qt::WindowShortcut);
    if (parent != nullptr) parent->addActions({m_add, m_delete_all, m_save, m_recall, m_quit});
    connect(m_quit, &QAction::triggered, this, [owner = parent] {
        if (owner != nullptr) owner->window()->close();
    });

    connect(m_add, &QAction::triggered, this, &ui_menu_bar_t::slot_add);
    connect(m_delete_all, &QAction::triggered, this, &ui_menu_bar_t::signal_clear_device);
    connect(m_save, &QAction::triggered, this, &ui_menu_bar_t::slot_save);
    connect(m_recall, &QAction::triggered, this, &ui_menu_bar_t::slot_recall);
    connect(m_control, &QAction::triggered, this, &ui_menu_bar_t::slot_control);
    connect(m_about, &QAction::triggered, this, &ui_menu_bar_t::slot_about);
    connect(m_preferences, &QAction::triggered, this, &ui_menu_bar_t::slot_preferences);
    connect(m_lab, &QAction::triggered, this, &ui_menu_bar_t::slot_lab);
    // The help shows in the program's own window: no desktop browser is needed.
    QWidget* owner = parent != nullptr ? parent : this;
    connect(m_chinese, &QAction::triggered, this,
            [owner] { ui_help_window_t::open(owner, ui_help_document_cn); });
    connect(m_english, &QAction::triggered, this,
            [owner] { ui_help_window_t::open(owner, ui_help_document_en); });
    // No vendor site: the English help's home page is the program's web page.
    connect(m_website, &QAction::triggered, this,
            [owner] { ui_help_window_t::open(owner, ui_help_document_en); });
}

std::string ui_menu_bar_t::dialog_path_to_string(const QString& path) {
    return QDir::toNativeSeparators(path).toLocal8Bit().toStdString();
}

void ui_menu_bar_t::slot_add() {
    auto* dialog = new ui_add_device_dialog_t(this);
    connect(dialog, &ui_add_device_dialog_t::signal_add_device, this, [this](QString model, QString res) {
        emit signal_add_device(model.toUtf8().toStdString(), res.toUtf8().toStdString(), pugi::xml_node());
    });
    dialog->exec();
}

QString ui_menu_bar_t::with_project_suffix(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path.endsWith('.') ? path + "dmm" : path + ".dmm";
}

void ui_menu_bar_t::slot_save() {
    QFileDialog dialog(this, "Select Path", ui_file_places::dir(ui_file_places::kind_project), "dmm(*.dmm)");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("dmm");
    QString path;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        path = with_project_suffix(dialog.selectedFiles().first());
    if (!path.isEmpty()) ui_file_places::add_recent_project(path);
    emit signal_save_xml(dialog_path_to_string(path));
}

void ui_menu_bar_t::slot_recall() {
    const QString path = QFileDialog::getOpenFileName(
        this, "Select File", ui_file_places::dir(ui_file_places::kind_project), "dmm(*.dmm)");
    if (!path.isEmpty()) ui_file_places::add_recent_project(path);
    emit signal_recall_xml(dialog_path_to_string(path));
}

void ui_menu_bar_t::_fill_recent() {
    m_recent->clear();
    const QStringList projects = ui_file_places::recent_projects();
    for (int i = 0; i < projects.size(); ++i) {
        const QString path = projects[i];
        // "&1 name" makes the first nine reachable by their digit.
        const QString label = (i < 9 ? QString("&%1 ").arg(i + 1) : QString()) + QFileInfo(path).fileName();
        QAction* action = m_recent->addAction(label);
        action->setToolTip(QDir::toNativeSeparators(path));
        action->setStatusTip(QDir::toNativeSeparators(path));
        action->setData(path);
        connect(action, &QAction::triggered, this, [this, path] {
            ui_file_places::add_recent_project(path);
            emit signal_recall_xml(dialog_path_to_string(path));
        });
    }
    m_recent->setEnabled(!projects.isEmpty());
    if (projects.isEmpty()) m_recent->addAction("(none)")->setEnabled(false);
}

void ui_menu_bar_t::slot_control() {
    auto* window = new ui_control_window_t(m_pcolumn, this);
    window->exec();
}

void ui_menu_bar_t::slot_preferences() {
    auto* dialog = new ui_preferences_dialog_t(this);
    dialog->exec();
}

void ui_menu_bar_t::slot_lab() {
    // One window, not modal: it watches while the user works on.
    if (m_lab_window == nullptr) {
        m_lab_window = new ui_lab_window_t(window());
        connect(m_lab_window, &QObject::destroyed, this, [this] { m_lab_window = nullptr; });
    }
    m_lab_window->show();
    m_lab_window->raise();
    m_lab_window->activateWindow();
}

void ui_menu_bar_t::slot_about() {
    auto* about = new ui_about_window_t(this);
    about->exec();
}
