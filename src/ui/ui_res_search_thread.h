// The one background thread that searches the VISA resources for the address dialogs,
// so the GUI stays responsive while discovery runs.
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

protected:
    void run() override;

private:
    ui_res_search_thread_t() = default;
    ~ui_res_search_thread_t() override;
};
