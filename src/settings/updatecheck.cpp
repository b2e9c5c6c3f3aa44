#include "settings/updatecheck.h"

#include <curl/curl.h>
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <cstdlib>
#include <thread>

#include "engine/files.h"

namespace torvel {

struct UpdateCheck::State {
  std::atomic<UpdateOutcome> outcome{UpdateOutcome::Pending};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  CURLM* transfers = nullptr;  // while a request is under way: what a stop wakes
};

namespace {

size_t collect(char* data, size_t size, size_t n, void* user) {
  auto* body = static_cast<std::string*>(user);
  if (body->size() > 64 * 1024) return 0;  // a version number is short: stop a runaway reply
  body->append(data, size * n);
  return size * n;
}

// Runs the transfer until it ends or the check is stopped; its result code.
CURLcode perform(CURL* c, UpdateCheck::State& s) {
  CURLM* multi = curl_multi_init();
  if (!multi) return CURLE_OUT_OF_MEMORY;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.transfers = multi;
  }
  curl_multi_add_handle(multi, c);
  CURLcode rc = CURLE_ABORTED_BY_CALLBACK;
  for (int running = 1; running && !s.stop;) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (running) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }
  int left = 0;
  while (CURLMsg* m = curl_multi_info_read(multi, &left))
    if (m->msg == CURLMSG_DONE) rc = m->data.result;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.transfers = nullptr;
  }
  curl_multi_remove_handle(multi, c);
  curl_multi_cleanup(multi);
  return rc;
}

bool httpGet(const std::string& url, long connectTimeout, long timeout, std::string& body, UpdateCheck::State& s) {
  CURL* c = curl_easy_init();
  if (!c) return false;
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, updateUserAgent);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, connectTimeout);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout);
  curl_easy_setopt(c, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
  const CURLcode rc = perform(c, s);
  curl_easy_cleanup(c);
  return rc == CURLE_OK;
}

}  // namespace

std::string updateEndpoint() {
  const char* set = std::getenv(updateEndpointVariable);
  std::string url = set && *set ? set : defaultUpdateEndpoint;
  if (url.back() != '/') url += '/';
  return url;
}

bool replyIsReadable(const std::string& body) {
  const std::string first = body.substr(0, body.find_first_of("\r\n"));
  return !first.empty() && first.size() <= 40 &&
         first.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ._- ") ==
             std::string::npos;
}

bool replyNamesNewVersion(const std::string& body, const std::string& current) {
  const size_t end = body.find_first_of("\r\n");
  const std::string first = body.substr(0, end);
  if (first.empty()) return false;
  return upperCase(first) != upperCase(current);
}

UpdateCheck::UpdateCheck() : state_(std::make_shared<State>()) {}

UpdateCheck::~UpdateCheck() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stop = true;
    if (state_->transfers) curl_multi_wakeup(state_->transfers);
  }
  if (thread_.joinable()) thread_.join();
}

void UpdateCheck::start() {
  if (thread_.joinable()) return;  // one request per check
  const std::string url = endpoint + "version.php?software=TorvelTools2&id=" + clientId;
  thread_ = std::thread([s = state_, url, cur = currentVersion, ct = connectTimeoutSeconds, t = timeoutSeconds] {
    pthread_setname_np(pthread_self(), "update-check");
    std::string body;
    if (!httpGet(url, ct, t, body, *s) || !replyIsReadable(body))
      s->outcome = UpdateOutcome::Failed;
    else
      s->outcome = replyNamesNewVersion(body, cur) ? UpdateOutcome::NewVersion : UpdateOutcome::UpToDate;
  });
}

bool UpdateCheck::finished() const { return state_->outcome != UpdateOutcome::Pending; }
UpdateOutcome UpdateCheck::outcome() const { return state_->outcome; }

}  // namespace torvel
