// A new user's walk through the shell with a GUI-thread stall probe. Builds the real main
// window against simulated instruments and runs the actions one after the other: add by
// address, add by search, a wrong model, a slow instrument (1.5 s per reply) and its
// function, range, speed and Rel changes, Run and Stop (changes also while it measures), the
// control window's Sync Start and Stop and the record settings' acquisition mode with the slow
// instrument measuring, a killed instrument
// while measuring, save and recall, delete one, Delete All, a project of 16 instruments
// recalled, the help. A 10 ms
// timer on the GUI thread measures, per action, the longest gap between two of its ticks
// (a frozen window shows as a long gap) from the action's start until its outcome shows.
// Message boxes are answered the way a user would (Yes to questions, OK otherwise) and
// listed as the outcome.
//
// Not a test: it prints one Markdown table and has no thresholds. Run it under a real X
// server with a window manager (scripts/shell-walk does) or on the offscreen platform.
// usage: perf_shell_walk            exit 0 when the walk ran, 1 when it could not.
#include <signal.h>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_application.h"
#include "ui/ui_control_window.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_device_column/ui_device_jobs.h"
#include "ui/ui_main_window.h"
#include "ui/ui_menu_bar.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui/ui_res_search_thread.h"

namespace {

constexpr int action_limit_ms = 30000;

// The longest gap between two ticks of a 10 ms GUI timer since the last reset.
class stall_probe_t {
public:
    stall_probe_t() {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_since.restart()); });
        m_since.start();
        m_timer.start();
    }
    void reset() {
        m_since.restart();
        m_longest = 0;
    }
    qint64 longest_ms() const { return std::max(m_longest, m_since.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

// Answers every message box (Yes where asked, else its default) and closes other dialogs.
class box_answerer_t {
public:
    box_answerer_t() {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { _poll(); });
        m_timer.start();
    }
    // A dialog the walk fills in itself: the hook gets it first and says whether it did.
    std::function<bool(QDialog*)> on_dialog;
    QStringList take() {
        QStringList seen = m_seen;
        m_seen.clear();
        return seen;
    }
    int count() const { return m_seen.size(); }

private:
    void _poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_seen << box->windowTitle() + ": " + box->text().section('\n', 0, 0);
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            if (yes != nullptr) {
                yes->click();
            } else if (box->defaultButton() != nullptr) {
                box->defaultButton()->click();
            } else {
                box->accept();
            }
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            if (on_dialog && on_dialog(dialog)) return;
            m_seen << "dialog " + dialog->windowTitle();
            dialog->reject();
        }
    }
    QTimer m_timer;
    QStringList m_seen;
};

bool spin_until(const std::function<bool()>& done, int limit_ms = action_limit_ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit_ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return done();
}

void spin(int ms) {
    spin_until([] { return false; }, ms);
}

bool instruments_idle(ui_device_column_t* column) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* main_window = qobject_cast<ui_main_window_t*>(widget);
        if (main_window != nullptr && main_window->is_recalling()) return false;
    }
    for (ui_device_item_t* item : column->get_device_items()) {
        if (item->is_busy() || item->settings_in_flight() > 0) return false;
    }
    for (QWidget* widget : QApplication::allWidgets()) {
        auto* window = qobject_cast<ui_primary_window_t*>(widget);
        if (window != nullptr && window->is_checking_scan_card()) return false;
    }
    return true;
}

ui_device_item_t* item_at(ui_device_column_t* column, const std::string& resource) {
    for (ui_device_item_t* item : column->get_device_items()) {
        if (item->get_resource() == resource) return item;
    }
    return nullptr;
}

QString connection_state(ui_device_column_t* column) {
    int connected = 0;
    const auto items = column->get_device_items();
    for (ui_device_item_t* item : items) connected += item->is_connected() ? 1 : 0;
    return QString("%1 of %2 instruments connected").arg(connected).arg(items.size());
}

struct row_t {
    QString action;
    qint64 stall_ms;
    QString outcome;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ui_application_t app(argc, argv);
    QDir::setCurrent(QCoreApplication::applicationDirPath());  // the help files, as the program finds them
    ui_application_t::install_style_and_font();
    velkaro_test::use_test_portmapper_port();

    velkaro_test::sim_process_t first("VXA-2");
    velkaro_test::sim_process_t found("VXA-2");
    velkaro_test::sim_process_t other_model("VXB-1");
    velkaro_test::sim_process_t slow("VXA-2", {"--reply-delay", "1500"});
    for (const auto* sim : {&first, &found, &other_model, &slow}) {
        if (!sim->ok()) {
            std::fprintf(stderr, "perf_shell_walk: a simulator did not start\n");
            return 1;
        }
    }
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "perf_shell_walk: no temporary directory\n");
        return 1;
    }
    const std::string project = dir.filePath("walk.dmm").toStdString();

    box_answerer_t boxes;
    auto window = std::make_unique<ui_main_window_t>("");
    window->resize(1400, 800);
    window->show();
    spin(500);
    ui_device_column_t* column = window->device_column();
    stall_probe_t probe;
    std::vector<row_t> rows;
    bool complete = true;

    // Runs one action: `start` once, then the event loop until `done`; the outcome is
    // what `describe` says plus the boxes answered meanwhile.
    auto run = [&](const QString& name, const std::function<void()>& start, const std::function<bool()>& done,
                   const std::function<QString()>& describe) {
        boxes.take();
        probe.reset();
        start();
        const bool finished = spin_until(done);
        const qint64 stall = probe.longest_ms();
        spin(100);  // boxes of the outcome
        QString outcome = finished ? describe() : "did not finish in 30 s";
        const QStringList seen = boxes.take();
        if (!seen.isEmpty()) outcome += "; boxes: " + seen.join(" / ");
        complete = complete && finished;
        rows.push_back({name, stall, outcome});
    };
    auto idle = [&] { return instruments_idle(column); };
    auto state = [&] { return connection_state(column); };

    run(
        "Add a VXA-2 by address",
        [&] {
            emit window->menu_bar()->signal_add_device("VXA-2", first.instr_resource(), pugi::xml_node());
        },
        idle, state);

    bool listed = false;
    std::vector<std::string> found_resources;
    std::vector<std::string> found_labels;
    QObject::connect(ui_res_search_thread_t::instance(), &ui_res_search_thread_t::signal_send_resource_labels,
                     [&](std::vector<std::string> res, std::vector<std::string> labels) {
                         found_resources = std::move(res);
                         found_labels = std::move(labels);
                         listed = true;
                     });
    qputenv("VELKARO_VISA_HOSTS", QByteArray::fromStdString(first.address() + "," + found.address()));
    run(
        "Search (two hosts), then add the one found",
        [&] { ui_res_search_thread_t::instance()->start_if_idle(); }, [&] { return listed; },
        [&] {
            QString text = QString("%1 found").arg(found_resources.size());
            for (std::size_t i = 0; i < found_resources.size(); ++i) {
                if (found_resources[i] == found.instr_resource()) {
                    text += QString(" (%1)").arg(QString::fromStdString(found_labels[i]));
                    emit window->menu_bar()->signal_add_device("VXA-2", found_resources[i], pugi::xml_node());
                }
            }
            spin_until(idle);
            return text + "; " + state();
        });

    run(
        "Add a VXB-1 as VXA-2 (wrong model)",
        [&] {
            emit window->menu_bar()->signal_add_device("VXA-2", other_model.instr_resource(),
                                                       pugi::xml_node());
        },
        idle, state);

    run(
        "Add a slow VXA-2 (1.5 s per reply)",
        [&] { emit window->menu_bar()->signal_add_device("VXA-2", slow.instr_resource(), pugi::xml_node()); },
        idle, state);

    // The slow instrument's settings: each goes to the instrument on its lane; the action
    // ends once the instrument has answered (and the page shows what it holds).
    ui_device_item_t* slow_item = item_at(column, slow.instr_resource());
    ui_primary_window_t* slow_window = slow_item != nullptr ? window->primary_window_of(slow_item) : nullptr;
    if (slow_item != nullptr && slow_item->is_connected() && slow_window != nullptr) {
        window->slot_show_bound_primary_window(slow_item);
        cfg_main_t* cfg = slow_item->get_mngr()->get_cfg();
        auto settled = [&] { return slow_item->settings_in_flight() == 0; };
        auto held = [&, cfg] {
            const int f = cfg->get_function();
            return QString("function %1, range %2, speed %3, rel %4")
                .arg(QString::fromStdString(measure_name(static_cast<plib_measure_type_t>(f))))
                .arg(cfg->get_auto_range(f) != 0 ? QString("Auto")
                                                 : QString::fromStdString(cfg->get_range(f)))
                .arg(QString::fromStdString(cfg->get_nplc(f)))
                .arg(cfg->get_rel_state(f) != 0 ? "on" : "off");
        };
        auto panel_child = [&, cfg](const char* name) -> QObject* {
            QWidget* panel =
                slow_window->findChild<QWidget*>(QString("var_param_panel_%1").arg(cfg->get_function()));
            return panel != nullptr ? panel->findChild<QObject*>(name) : nullptr;
        };
        auto* function = slow_window->findChild<QComboBox*>("measure_function_selector");
        auto choose = [](QObject* object, int index) {
            if (auto* combo = qobject_cast<QComboBox*>(object)) combo->setCurrentIndex(index);
        };
        run(
            "Slow instrument: function DC Voltage to DC Current", [&] { choose(function, measure_dci); },
            settled, held);
        run(
            "Slow instrument: range 2nd entry", [&] { choose(panel_child("var_param_range_combo"), 1); },
            settled, held);
        run(
            "Slow instrument: speed last entry",
            [&] {
                if (auto* combo = qobject_cast<QComboBox*>(panel_child("var_param_aperture_combo")))
                    combo->setCurrentIndex(combo->count() - 1);
            },
            settled, held);
        run(
            "Slow instrument: Rel ON",
            [&] {
                if (auto* group = qobject_cast<QButtonGroup*>(panel_child("var_param_rel_group")))
                    if (group->button(1) != nullptr) group->button(1)->click();
            },
            settled, held);
        auto* run_stop = slow_window->findChild<QPushButton*>("measure_run_stop_btn");
        run(
            "Slow instrument: Run", [&] { run_stop->click(); },
            [&, cfg] { return settled() && cfg->get_run_state() == 1; },
            [&, cfg] { return QString("run state %1").arg(cfg->get_run_state()); });
        spin(2000);
        run(
            "Slow instrument measuring: function back to DC Voltage", [&] { choose(function, measure_dcv); },
            settled, held);
        run(
            "Slow instrument measuring: range 3rd entry",
            [&] { choose(panel_child("var_param_range_combo"), 2); }, settled, held);
        run(
            "Slow instrument: Stop", [&] { run_stop->click(); },
            [&, cfg] { return settled() && cfg->get_run_state() == 0; },
            [&, cfg] { return QString("run state %1").arg(cfg->get_run_state()); });

        // The control window on every instrument (the slow one among them), the way the
        // menu's Control opens it, and the Measure page's record settings while measuring.
        auto all_settled = [&] {
            for (ui_device_item_t* item : column->get_device_items())
                if (item->settings_in_flight() > 0) return false;
            return true;
        };
        auto run_states = [&] {
            QStringList states;
            for (ui_device_item_t* item : column->get_device_items())
                states << QString::number(item->get_mngr()->get_cfg()->get_run_state());
            return "run states " + states.join(" ");
        };
        auto* control = new ui_control_window_t(column, window.get());
        control->setAttribute(Qt::WA_DeleteOnClose, false);
        control->show();
        control->select_button()->click();  // every row
        run(
            "Control window: Sync Start (all; the slow one among them)", [&] { control->start_button()->click(); },
            [&, cfg] { return all_settled() && cfg->get_run_state() == 1; }, run_states);
        spin(2000);
        auto* setting = slow_window->findChild<QPushButton*>("measure_setting_btn");
        auto fill_record_dialog = [](const char* radio) {
            return [radio](QDialog* dialog) {
                auto* choice = dialog->findChild<QRadioButton*>(radio);
                auto* ok = dialog->findChild<QPushButton*>("record_ok_button");
                if (choice == nullptr || ok == nullptr) return false;
                choice->setChecked(true);
                ok->click();
                return true;
            };
        };
        auto mode = [&, cfg] { return QString("acquisition mode %1").arg(cfg->get_acq_mode() == 1 ? "single" : "continuous"); };
        boxes.on_dialog = fill_record_dialog("record_single_radio");
        run(
            "Slow instrument measuring: Setting, Single Acquisition, OK", [&] { setting->click(); },
            [&, cfg] { return settled() && cfg->get_acq_mode() == 1; }, mode);
        boxes.on_dialog = fill_record_dialog("record_continuous_radio");
        run(
            "Slow instrument measuring: Setting, Continuous Acquisition, OK", [&] { setting->click(); },
            [&, cfg] { return settled() && cfg->get_acq_mode() == 0; }, mode);
        boxes.on_dialog = nullptr;
        spin(1000);
        run(
            "Control window: Sync Start again (restarts the measuring ones)",
            [&] { control->start_button()->click(); },
            [&, cfg] { return all_settled() && cfg->get_run_state() == 1; }, run_states);
        run(
            "Control window: Sync Stop (all)", [&] { control->stop_button()->click(); },
            [&, cfg] {
                if (!all_settled()) return false;
                for (ui_device_item_t* item : column->get_device_items())
                    if (item->get_mngr()->get_cfg()->get_run_state() != 0) return false;
                return true;
            },
            run_states);
        delete control;
    } else {
        complete = false;
        rows.push_back({"Slow instrument settings", 0, "skipped: the slow instrument is not connected"});
    }

    ui_device_item_t* measured = item_at(column, first.instr_resource());
    if (measured != nullptr && measured->is_connected()) {
        window->slot_show_bound_primary_window(measured);
        measured->get_mngr()->get_cfg()->set_run_state(1);
        spin(1000);
        run(
            "Kill the measuring instrument (SIGKILL)", [&] { ::kill(first.pid(), SIGKILL); },
            [&] { return boxes.count() > 0 && !measured->is_connected(); }, state);
    } else {
        complete = false;
        rows.push_back(
            {"Kill the measuring instrument (SIGKILL)", 0, "skipped: the first instrument is not connected"});
    }

    run(
        "Save the project", [&] { window->slot_save_xml_file(project); },
        [&] { return QFileInfo::exists(QString::fromStdString(project)); },
        [&] { return QString("%1 bytes written").arg(QFileInfo(QString::fromStdString(project)).size()); });

    run(
        "Delete one connected instrument",
        [&] {
            if (ui_device_item_t* item = item_at(column, found.instr_resource()))
                column->slot_del_device(item->get_index());
        },
        [&] {
            return item_at(column, found.instr_resource()) == nullptr &&
                   ui_device_jobs_t::instance().wait_idle(0);
        },
        state);

    run(
        "Delete All (a slow instrument connected)",
        [&] {
            if (!column->get_device_items().empty()) column->get_device_items().front()->slot_delete_all();
        },
        [&] { return column->get_device_items().empty() && ui_device_jobs_t::instance().wait_idle(0); },
        state);

    run(
        "Recall the project", [&] { window->slot_recall_xml_file(project); },
        [&] { return !window->is_recalling() && instruments_idle(column); }, state);

    // A project of 16 instruments where nothing answers (loopback addresses without a
    // listener): recalling it builds 16 instrument windows.
    const std::string project16 = dir.filePath("walk16.dmm").toStdString();
    column->slot_clear_device();
    spin_until([&] { return ui_device_jobs_t::instance().wait_idle(0); });
    for (int i = 1; i <= 16; ++i)
        column->slot_add_device(i % 2 != 0 ? "VXA-2" : "VXB-1",
                                "TCPIP0::127.0.99." + std::to_string(i) + "::inst0::INSTR", {});
    spin_until(idle);
    window->slot_save_xml_file(project16);
    column->slot_clear_device();
    spin_until([&] { return ui_device_jobs_t::instance().wait_idle(0); });
    run(
        "Recall a project of 16 instruments", [&] { window->slot_recall_xml_file(project16); },
        [&] { return !window->is_recalling() && instruments_idle(column); }, state);
    run(
        "Recall it again (16 replace 16)", [&] { window->slot_recall_xml_file(project16); },
        [&] { return !window->is_recalling() && instruments_idle(column); }, state);

    run(
        "Help, English",
        [&] {
            for (QAction* action : window->menu_bar()->findChildren<QAction*>()) {
                if (action->text() == "English") action->trigger();
            }
        },
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->isVisible() && widget->inherits("ui_help_window_t")) return true;
            }
            return false;
        },
        [] { return QString("help window shown"); });

    std::printf("| Action | Longest GUI stall (ms) | Outcome |\n|---|---|---|\n");
    for (const row_t& r : rows) {
        std::printf("| %s | %lld | %s |\n", qPrintable(r.action), static_cast<long long>(r.stall_ms),
                    qPrintable(r.outcome));
    }
    std::printf("(platform %s; the probe ticks every 10 ms, so about 10 ms is no stall at all)\n",
                qPrintable(QGuiApplication::platformName()));
    std::fflush(stdout);
    window.reset();
    return complete ? 0 : 1;
}
