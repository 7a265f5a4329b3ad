#include "mosquitto_broker.h"

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

namespace {
constexpr int first_port = 18840;
}

mosquitto_broker_t::mosquitto_broker_t(const std::string& user, const std::string& password) {
    std::mt19937 rng{std::random_device{}()};
    m_address = "127." + std::to_string(16 + rng() % 200) + "." + std::to_string(1 + rng() % 250) + "." +
                std::to_string(1 + rng() % 250);
    m_port = first_port + static_cast<int>(rng() % 40);
    const std::string d = m_dir.path() + "/";
    std::ofstream conf(d + "mosquitto.conf");
    conf << "listener " << m_port << " " << m_address << "\nallow_anonymous " << (user.empty() ? "true" : "false")
         << "\npersistence false\nuser root\nlog_dest file " << d << "broker.log\n"
         << "log_type all\nconnection_messages true\n";
    if (!user.empty()) {
        run_process("mosquitto_passwd", {"-c", "-b", d + "passwd", user, password});
        conf << "password_file " << d << "passwd\n";
    }
}

mosquitto_broker_t::~mosquitto_broker_t() { stop(); }

bool mosquitto_broker_t::available() {
    return ::access("/usr/sbin/mosquitto", X_OK) == 0 || ::access("/usr/bin/mosquitto", X_OK) == 0;
}

bool mosquitto_broker_t::start() {
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
        const bool up = mosquitto_connect(probe, m_address.c_str(), m_port, 5) == MOSQ_ERR_SUCCESS;
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

void mosquitto_broker_t::stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string mosquitto_broker_t::url(const std::string& prefix, const std::string& user) const {
    return "mqtt://" + (user.empty() ? std::string() : user + "@") + m_address + ":" + std::to_string(m_port) + "/" +
           prefix;
}

std::string mosquitto_broker_t::log() const {
    std::ifstream in(m_dir.path() + "/broker.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace velkaro_test
