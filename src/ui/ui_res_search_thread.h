// The one background thread that searches the VISA resources for the address dialogs,
// so the GUI stays responsive while discovery runs, and then asks each found resource
// who it is. Nothing of a dialog is touched here: results go out by queued signals.
#pragma once

#include <QMetaType>
#include <QThread>
#include <string>
#include <vector>

Q_DECLARE_METATYPE(std::vector<std::string>)

class ui_res_search_thread_t : public QThread {
    Q_OBJECT
public:
    // Created on first use (with the registration of the queued argument type), lives
    // until process exit.
    static ui_res_search_thread_t* instance();

    // Starts a search unless one is running; its result goes to every dialog connected now.
    void start_if_idle();

signals:
    void signal_send_resource(std::vector<std::string> res_list);
    // After the resources: who answered at each ("model  serial" from its "*IDN?", or
    // empty), so the lists can name the meters.
    void signal_send_resource_labels(std::vector<std::string> res_list, std::vector<std::string> labels);

protected:
    void run() override;

private:
    ui_res_search_thread_t() = default;
    ~ui_res_search_thread_t() override;
};
