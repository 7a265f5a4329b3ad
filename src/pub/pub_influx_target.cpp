#include "pub/pub_influx_target.h"
#include "pub/pub_mqtt_target.h"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>

namespace {

// libcurl's global set-up, once per process, before the first handle.
void curl_global_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Parts of a URL, through libcurl's own parser.
struct url_parts_t {
    std::string scheme, user, password, host, port, path, query;
};

bool parse_url(const std::string& url, url_parts_t& parts, std::string& error) {
    CURLU* h = curl_url();
    if (h == nullptr) {
        error = "out of memory";
        return false;
    }
    bool ok = curl_url_set(h, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    auto get = [h](CURLUPart what, std::string& out) {
        char* text = nullptr;
        if (curl_url_get(h, what, &text, what == CURLUPART_QUERY || what == CURLUPART_PATH ? 0 : CURLU_URLDECODE) ==
            CURLUE_OK && text != nullptr) {
            out = text;
            curl_free(text);
        }
    };
    if (ok) {
        get(CURLUPART_SCHEME, parts.scheme);
        get(CURLUPART_USER, parts.user);
        get(CURLUPART_PASSWORD, parts.password);
        get(CURLUPART_HOST, parts.host);
        get(CURLUPART_PORT, parts.port);
        get(CURLUPART_PATH, parts.path);
        get(CURLUPART_QUERY, parts.query);
    } else {
        error = "\"" + pub_url_for_message(url) + "\" is not a URL";
    }
    curl_url_cleanup(h);
    return ok;
}

// The value of `key` in a query "a=1&b=2", or empty.
std::string query_value(const std::string& query, const std::string& key) {
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        if (pair.compare(0, key.size() + 1, key + "=") == 0) return pair.substr(key.size() + 1);
        start = end + 1;
    }
    return {};
}

// True when `key` is one of the query's keys (with or without a value).
bool has_query_key(const std::string& query, const std::string& key) {
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        if (pair == key || pair.compare(0, key.size() + 1, key + "=") == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::unique_ptr<pub_target_t> pub_make_target(const pub_target_config_t& config, std::string& error) {
    if (config.url.rfind("mqtt://", 0) == 0 || config.url.rfind("mqtts://", 0) == 0)
        return pub_make_mqtt_target(config, error);
    url_parts_t parts;
    if (!parse_url(config.url, parts, error)) return nullptr;
    if (parts.scheme != "http" && parts.scheme != "https") {
        error = "\"" + pub_url_for_message(config.url) + "\": unknown kind of target (http://, https://, mqtt://, mqtts://)";
        return nullptr;
    }
    // The target's name keeps the query: a password or token in it (InfluxDB 1.x takes
    // ?u=USER&p=PASSWORD) would show wherever the name does.
    if (!parts.password.empty() || has_query_key(parts.query, "p") || has_query_key(parts.query, "password") ||
        has_query_key(parts.query, "token")) {
        // The URL is not repeated: it holds the password.
        error = "no password in the URL of a target (" + parts.scheme + "://" + parts.host +
                "): give it in VELKARO_PUBLISH_PASSWORD or a secret file";
        return nullptr;
    }
    const std::string authority = parts.host + (parts.port.empty() ? "" : ":" + parts.port);
    const std::string base = parts.scheme + "://" + authority;
    std::string name = base + parts.path + (parts.query.empty() ? "" : "?" + parts.query);
    pub_influx_target_t::api_t api;
    std::string write_url;
    if (parts.path == "/write" || parts.path == "/write/") {
        if (query_value(parts.query, "db").empty()) {
            error = "\"" + pub_url_for_message(config.url) + "\": the URL names no database (/write?db=DB)";
            return nullptr;
        }
        api = pub_influx_target_t::api_v1;
        write_url = name + "&precision=ns";
    } else if (parts.path == "/api/v2/write") {
        if (query_value(parts.query, "bucket").empty()) {
            error = "\"" + pub_url_for_message(config.url) + "\": the URL names no bucket (/api/v2/write?org=ORG&bucket=BUCKET)";
            return nullptr;
        }
        if (!parts.user.empty()) {
            error = "\"" + pub_url_for_message(config.url) + "\": InfluxDB 2 takes a token (VELKARO_PUBLISH_TOKEN), not a user";
            return nullptr;
        }
        api = pub_influx_target_t::api_v2;
        write_url = name + "&precision=ns";
    } else {
        error = "\"" + pub_url_for_message(config.url) + "\": not a write URL (/write?db=DB or /api/v2/write?org=ORG&bucket=BUCKET)";
        return nullptr;
    }
    return std::make_unique<pub_influx_target_t>(api, name, write_url, parts.user, config);
}

pub_influx_target_t::pub_influx_target_t(api_t api, std::string name, std::string write_url, std::string user,
                                         const pub_target_config_t& config)
    : m_api(api),
      m_name(std::move(name)),
      m_write_url(std::move(write_url)),
      m_user(std::move(user)),
      m_password(config.password),
      m_ca_file(config.ca_file),
      m_timeout_s(config.timeout_s) {
    curl_global_once();
    m_headers = curl_slist_append(m_headers, "Content-Type: text/plain; charset=utf-8");
    // No "Expect: 100-continue" round trip before each body.
    m_headers = curl_slist_append(m_headers, "Expect:");
    if (m_api == api_v2 && !config.token.empty())
        m_headers = curl_slist_append(m_headers, ("Authorization: Token " + config.token).c_str());
}

pub_influx_target_t::~pub_influx_target_t() {
    if (m_curl != nullptr) curl_easy_cleanup(m_curl);
    curl_slist_free_all(m_headers);
}

size_t pub_influx_target_t::_on_header(char* data, size_t size, size_t count, void* self) {
    auto* target = static_cast<pub_influx_target_t*>(self);
    const std::string line(data, size * count);
    static const std::string key = "retry-after:";
    if (line.size() > key.size()) {
        std::string head = line.substr(0, key.size());
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (head == key) {
            const std::string value = line.substr(key.size());
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (end != value.c_str() && seconds >= 0) {
                target->m_retry_after_s = seconds;
            } else {
                // An HTTP date.
                const time_t when = curl_getdate(value.c_str(), nullptr);
                const time_t now = time(nullptr);
                if (when > now) target->m_retry_after_s = static_cast<double>(when - now);
            }
        }
    }
    return size * count;
}

size_t pub_influx_target_t::_on_body(char* data, size_t size, size_t count, void* self) {
    auto* target = static_cast<pub_influx_target_t*>(self);
    // The error text is enough; a long body is cut.
    if (target->m_answer_body.size() < 2048) target->m_answer_body.append(data, size * count);
    return size * count;
}

int pub_influx_target_t::_on_progress(void* self, long long, long long, long long, long long) {
    return static_cast<pub_influx_target_t*>(self)->m_abort.load() ? 1 : 0;
}

pub_send_result_t pub_influx_target_t::send(std::string_view lines) {
    pub_send_result_t result;
    if (m_abort) {
        result.reason = "stopped";
        return result;
    }
    if (m_curl == nullptr) m_curl = curl_easy_init();
    if (m_curl == nullptr) {
        result.reason = "cannot create an HTTP handle";
        return result;
    }
    CURL* c = m_curl;
    curl_easy_reset(c);
    m_answer_body.clear();
    m_retry_after_s = 0;
    char curl_error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(c, CURLOPT_URL, m_write_url.c_str());
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, lines.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(lines.size()));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(m_timeout_s * 1000));
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_ca_file.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, m_ca_file.c_str());
    if (!m_user.empty()) {
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(c, CURLOPT_USERNAME, m_user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, m_password.c_str());
    }
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &pub_influx_target_t::_on_header);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &pub_influx_target_t::_on_body);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &pub_influx_target_t::_on_progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, curl_error);

    const CURLcode code = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
    if (code != CURLE_OK) {
        result.kind = pub_send_result_t::retry;
        result.reason = curl_error[0] != '\0' ? curl_error : curl_easy_strerror(code);
        if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE)
            result.reason = "certificate not trusted: " + result.reason;
        return result;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 200 && status < 300) {
        result.kind = pub_send_result_t::sent;
        return result;
    }
    std::string body = m_answer_body;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
    result.reason = "HTTP " + std::to_string(status) + (body.empty() ? "" : ": " + body);
    result.retry_after_s = m_retry_after_s;
    result.kind = (status == 429 || status >= 500 || status < 200) ? pub_send_result_t::retry
                                                                   : pub_send_result_t::refused;
    return result;
}
