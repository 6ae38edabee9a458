#pragma once
// The site the web server serves: the page and its two files, /metrics,
// /api/values, /api/health, /api/monitor, /api/trend and the event stream
// /api/events, each answered from the snapshot in force. Nothing else is
// served. With credentials set, every request must carry them.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "history/History.h"
#include "platform/WebServer.h"
#include "web/WebFeed.h"

namespace tarvel {

class WebSite : public HttpSite {
  public:
    // The history of a name over the last span; called on the server's
    // threads, only while the snapshot says the history is on.
    using TrendReader =
        std::function<std::vector<HistoryPoint>(const std::string& name, std::chrono::seconds span)>;

    WebSite(const WebFeed& feed, TrendReader trend);

    // Before the server starts: empty user and password ask for nothing.
    void setCredentials(std::string user, std::string password);

    HttpReply answer(const HttpRequest& request) override;
    std::optional<std::string> nextEvent(std::uint64_t& seen, std::chrono::milliseconds wait) override;
    void endWaits(bool ended) override { feed_.endWaits(ended); }

  private:
    HttpReply api(const HttpRequest& request, const Snapshot& s) const;
    HttpReply trend(const HttpRequest& request, const Snapshot& s) const;

    const WebFeed& feed_;
    TrendReader trend_;
    std::string user_;
    std::string password_;
};

}  // namespace tarvel
