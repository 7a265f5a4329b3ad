#include "mqtt_broker.h"

#include <mosquitto.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "run_process.h"

extern char** environ;

namespace velkaro_test {

mqtt_broker_t::mqtt_broker_t(const std::string& acl, const std::string& user, const std::string& password) {
    std::mt19937 rng{std::random_device{}()};
    m_address = "127." + std::to_string(16 + rng() % 200) + "." + std::to_string(1 + rng() % 250) + "." +
                std::to_string(1 + rng() % 250);
    const std::string d = m_dir.path() + "/";
    std::ofstream conf(d + "mosquitto.conf");
    // Persistent: a subscriber's session and its queued messages survive a restart.
    conf << "listener " << mqtt_broker_port << " " << m_address << "\nallow_anonymous "
         << (user.empty() ? "true" : "false") << "\npersistence true\npersistence_location " << d
         << "\nuser root\nlog_dest file " << d << "broker.log\nlog_type all\nconnection_messages true\n";
    if (!acl.empty()) {
        std::ofstream(d + "acl") << acl;
        conf << "acl_file " << d << "acl\n";
    }
    if (!user.empty()) {
        m_login_ok = run_process("mosquitto_passwd", {"-c", "-b", d + "passwd", user, password}).exit_code == 0;
        conf << "password_file " << d << "passwd\n";
    }
}

mqtt_broker_t::~mqtt_broker_t() { stop(); }

bool mqtt_broker_t::available() {
    return ::access("/usr/sbin/mosquitto", X_OK) == 0 || ::access("/usr/bin/mosquitto", X_OK) == 0;
}

bool mqtt_broker_t::start() {
    if (m_pid > 0) return true;
    std::string conf = m_dir.path() + "/mosquitto.conf";
    std::vector<char*> argv = {const_cast<char*>("mosquitto"), const_cast<char*>("-c"), conf.data(), nullptr};
    if (posix_spawnp(&m_pid, "mosquitto", nullptr, nullptr, argv.data(), environ) != 0 &&
        posix_spawn(&m_pid, "/usr/sbin/mosquitto", nullptr, nullptr, argv.data(), environ) != 0) {
        m_pid = -1;
        return false;
    }
    mosquitto_lib_init();
    for (int i = 0; i < 200; ++i) {  // 5 s
        mosquitto* probe = mosquitto_new(nullptr, true, nullptr);
        const bool up = mosquitto_connect(probe, m_address.c_str(), mqtt_broker_port, 5) == MOSQ_ERR_SUCCESS;
        if (up) mosquitto_disconnect(probe);
        mosquitto_destroy(probe);
        if (up) return true;
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {  // exited: the port was taken, say
            m_pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    stop();
    return false;
}

void mqtt_broker_t::stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string mqtt_broker_t::url(const std::string& prefix, const std::string& user) const {
    return "mqtt://" + (user.empty() ? std::string() : user + "@") + m_address + ":" +
           std::to_string(mqtt_broker_port) + "/" + prefix;
}

std::string mqtt_broker_t::log() const {
    std::ifstream in(m_dir.path() + "/broker.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool mqtt_broker_t::add_tls_listener() {
    const std::string d = m_dir.path() + "/";
    const std::vector<std::string> ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    auto with = [&](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    std::ofstream(d + "ext") << "subjectAltName=IP:" << m_address << "\n";
    const bool ok =
        run_process("openssl", with({"req", "-x509"}, with(ec, {"-keyout", d + "ca.key", "-out", d + "ca.crt", "-subj",
                                                                "/CN=velkaro test CA", "-days", "1"})))
                .exit_code == 0 &&
        run_process("openssl",
                    with({"req"}, with(ec, {"-keyout", d + "server.key", "-out", d + "server.csr", "-subj", "/CN=broker"})))
                .exit_code == 0 &&
        run_process("openssl", {"x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.crt", "-CAkey", d + "ca.key",
                                "-CAcreateserial", "-out", d + "server.crt", "-days", "1", "-extfile", d + "ext"})
                .exit_code == 0;
    std::ofstream(d + "mosquitto.conf", std::ios::app)
        << "listener " << tls_port << " " << m_address << "\ncafile " << d << "ca.crt\ncertfile " << d
        << "server.crt\nkeyfile " << d << "server.key\n";
    return ok;
}

}  // namespace velkaro_test
