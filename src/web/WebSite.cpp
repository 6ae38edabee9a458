#include "web/WebSite.h"

#include <algorithm>

#include "web/PageFiles.h"
#include "web/WebFormats.h"
#include "web/WebRequest.h"

namespace tarvel {
namespace {

HttpReply reply(int status, std::string body, std::string contentType = "text/plain; charset=utf-8") {
    HttpReply r;
    r.status = status;
    r.body = std::move(body);
    r.contentType = std::move(contentType);
    return r;
}

HttpReply json(std::string body) { return reply(200, std::move(body), "application/json"); }

// The page's own files by their path.
std::optional<HttpReply> pageFile(const std::string& path) {
    static const struct {
        const char* path;
        const char* name;
        const char* type;
    } files[] = {
        {"/", "index.html", "text/html; charset=utf-8"},
        {"/page.js", "page.js", "text/javascript; charset=utf-8"},
        {"/page.css", "page.css", "text/css; charset=utf-8"},
    };
    for (const auto& f : files)
        if (path == f.path)
            if (const auto text = PageText(f.name)) return reply(200, std::string(*text), f.type);
    return std::nullopt;
}

}  // namespace

WebSite::WebSite(const WebFeed& feed, TrendReader trend) : feed_(feed), trend_(std::move(trend)) {}

void WebSite::setCredentials(std::string user, std::string password) {
    user_ = std::move(user);
    password_ = std::move(password);
}

HttpReply WebSite::answer(const HttpRequest& request) {
    HttpReply r;
    if (request.method != "GET" && request.method != "HEAD") {
        r = reply(405, "Metodo non ammesso\n");
        r.headers.emplace_back("Allow", "GET, HEAD");
    } else if ((!user_.empty() || !password_.empty()) &&
               !Authorized(request.authorization, user_, password_)) {
        r = reply(401, "Accesso negato: servono utente e password\n");
        r.headers.emplace_back("WWW-Authenticate", "Basic realm=\"Tarvel\", charset=\"UTF-8\"");
    } else if (auto file = pageFile(request.path)) {
        r = std::move(*file);
    } else {
        const std::shared_ptr<const Snapshot> s = feed_.current();
        r = api(request, *s);
    }
    r.headers.emplace_back("X-Content-Type-Options", "nosniff");
    r.headers.emplace_back("Content-Security-Policy",
                           "default-src 'self'; frame-ancestors 'none'");
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

HttpReply WebSite::api(const HttpRequest& request, const Snapshot& s) const {
    const std::string& path = request.path;
    if (path == "/metrics") return reply(200, MetricsText(s), "text/plain; version=0.0.4; charset=utf-8");
    if (path == "/api/values") return json(ValuesJson(s));
    if (path == "/api/health") return json(HealthJson(s));
    if (path == "/api/monitor") {
        const std::optional<std::string> since = request.parameter("since");
        const std::optional<std::uint64_t> n = since ? CountParameter(*since) : std::uint64_t{0};
        if (!n) return reply(400, "since: valore non valido \"" + since->substr(0, 40) + "\" (un numero da 0)\n");
        return json(MonitorJson(s, *n));
    }
    if (path == "/api/trend") return trend(request, s);
    if (path == "/api/events") {
        HttpReply r;
        r.eventStream = true;
        return r;
    }
    return reply(404, "Non trovato\n");
}

HttpReply WebSite::trend(const HttpRequest& request, const Snapshot& s) const {
    const std::optional<std::string> name = request.parameter("name");
    if (!name) return json(TrendNamesJson(s));
    const std::string span = request.parameter("span").value_or("hour");
    const long seconds = span == "hour" ? 3600 : span == "day" ? 86400 : span == "week" ? 604800 : 0;
    if (seconds == 0) return reply(400, "span: valore non valido (hour, day, week)\n");
    const bool known = std::find(s.trendNames.begin(), s.trendNames.end(), *name) != s.trendNames.end();
    if (!s.historyOn || !known || !trend_) return reply(404, "Nessuno storico per questo nome\n");
    return json(TrendJson(*name, seconds, trend_(*name, std::chrono::seconds(seconds))));
}

std::optional<std::string> WebSite::nextEvent(std::uint64_t& seen, std::chrono::milliseconds wait) {
    if (!feed_.waitNewer(seen, wait)) return std::nullopt;
    return "data: {\"cycle\": " + std::to_string(feed_.current()->cycle) + "}\n\n";
}

}  // namespace tarvel
