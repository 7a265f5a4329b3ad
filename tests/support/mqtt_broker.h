// mosquitto for a test, started by the test itself on a random loopback address
// 127.a.b.c with its own config and persistence directory, and stopped (SIGTERM) with the
// object. stop() and start() again keep the address and the retained messages and
// sessions, as a broker restart does. Every wait is bounded.
#pragma once

#include <mosquitto.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace velkaro_test {

inline constexpr int mqtt_broker_port = 18831;

// mosquitto with its own config on a random 127.a.b.c address; stopped with the object.
class mqtt_broker_t {
public:
    // `acl`: the text of an ACL file for the broker, or empty for none; `user`/`password`:
    // the one login the broker takes (anonymous clients refused), or empty for anonymous.
    explicit mqtt_broker_t(const std::string& acl = "", const std::string& user = "", const std::string& password = "") {
        std::mt19937 rng{std::random_device{}()};
        m_address = "127." + std::to_string(16 + rng() % 200) + "." + std::to_string(1 + rng() % 250) + "." +
                    std::to_string(1 + rng() % 250);
        std::ofstream conf(m_dir.path() + "/mosquitto.conf");
        // Persistent: a subscriber's session and its queued messages survive a restart.
        conf << "listener " << mqtt_broker_port << " " << m_address << "\nallow_anonymous "
             << (user.empty() ? "true" : "false") << "\npersistence true\n"
             << "persistence_location " << m_dir.path() << "/\nuser root\nlog_dest none\n";
        if (!acl.empty()) {
            std::ofstream(m_dir.path() + "/acl") << acl;
            conf << "acl_file " << m_dir.path() << "/acl\n";
        }
        if (!user.empty()) {
            const std::string file = m_dir.path() + "/passwd";
            std::vector<std::string> args = {"mosquitto_passwd", "-c", "-b", file, user, password};
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            pid_t pid = -1;
            int status = -1;
            if (posix_spawnp(&pid, "mosquitto_passwd", nullptr, nullptr, argv.data(), environ) == 0)
                ::waitpid(pid, &status, 0);
            m_login_ok = status == 0;
            conf << "password_file " << file << "\n";
        }
    }
    ~mqtt_broker_t() { stop(); }
    bool start() {
        std::string conf = m_dir.path() + "/mosquitto.conf";
        std::vector<char*> argv = {const_cast<char*>("mosquitto"), const_cast<char*>("-c"), conf.data(), nullptr};
        if (posix_spawnp(&m_pid, "mosquitto", nullptr, nullptr, argv.data(), environ) != 0) return false;
        // Ready once a client connects (bounded).
        for (int i = 0; i < 200; ++i) {
            mosquitto* probe = mosquitto_new(nullptr, true, nullptr);
            const bool up = mosquitto_connect(probe, m_address.c_str(), mqtt_broker_port, 5) == MOSQ_ERR_SUCCESS;
            mosquitto_destroy(probe);
            if (up) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }
    void stop() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    const std::string& address() const { return m_address; }
    bool login_ok() const { return m_login_ok; }
    // Adds a TLS listener on tls_port with a server certificate for the broker's address,
    // signed by a CA made here (its certificate in ca_file()); call before start().
    bool add_tls_listener() {
                const std::string d = m_dir.path() + "/";
        const std::vector<std::string> ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        auto with = [&](std::vector<std::string> a, const std::vector<std::string>& b) {
            a.insert(a.end(), b.begin(), b.end());
            return a;
        };
        std::ofstream(d + "ext") << "subjectAltName=IP:" << m_address << "\n";
        const bool ok =
            run_process("openssl", with({"req", "-x509"}, with(ec, {"-keyout", d + "ca.key", "-out", d + "ca.crt",
                                                                    "-subj", "/CN=velkaro test CA", "-days", "1"})))
                    .exit_code == 0 &&
            run_process("openssl", with({"req"}, with(ec, {"-keyout", d + "server.key", "-out", d + "server.csr",
                                                          "-subj", "/CN=broker"})))
                    .exit_code == 0 &&
            run_process("openssl", {"x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.crt", "-CAkey", d + "ca.key",
                                    "-CAcreateserial", "-out", d + "server.crt", "-days", "1", "-extfile", d + "ext"})
                    .exit_code == 0;
        std::ofstream(d + "mosquitto.conf", std::ios::app)
            << "listener " << tls_port << " " << m_address << "\ncafile " << d << "ca.crt\ncertfile " << d
            << "server.crt\nkeyfile " << d << "server.key\n";
        return ok;
    }
    std::string ca_file() const { return m_dir.path() + "/ca.crt"; }
    static constexpr int tls_port = mqtt_broker_port + 1;

private:
    temp_dir_t m_dir;
    std::string m_address;
    pid_t m_pid = -1;
    bool m_login_ok = true;
};

}  // namespace velkaro_test
