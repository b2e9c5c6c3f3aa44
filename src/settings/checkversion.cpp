#include "settings/checkversion.h"

#include <curl/curl.h>
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <thread>

struct TCheckVersion::TState {
  std::atomic<bool> Finished{false};
  std::atomic<bool> NewVersion{false};
};

namespace {

size_t Collect(char* data, size_t size, size_t n, void* user) {
  auto* body = static_cast<std::string*>(user);
  if (body->size() > 64 * 1024) return 0;  // a version number is short: stop a runaway reply
  body->append(data, size * n);
  return size * n;
}

bool Get(const std::string& url, long connectTimeout, long timeout, std::string& body) {
  CURL* c = curl_easy_init();
  if (!c) return false;
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, UpdateUserAgent);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, connectTimeout);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout);
  curl_easy_setopt(c, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
  const CURLcode rc = curl_easy_perform(c);
  curl_easy_cleanup(c);
  return rc == CURLE_OK;
}

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

}  // namespace

bool ReplyNamesNewVersion(const std::string& body, const std::string& current) {
  const size_t end = body.find_first_of("\r\n");
  const std::string first = body.substr(0, end);
  if (first.empty()) return false;
  return Upper(first) != Upper(current);
}

TCheckVersion::TCheckVersion() : state_(std::make_shared<TState>()) {}

TCheckVersion::~TCheckVersion() = default;

void TCheckVersion::Start() {
  const std::string url = Endpoint + "version.php?software=TorvelTools2&id=" + ClientId;
  std::thread([s = state_, url, cur = CurrVersion, ct = ConnectTimeoutSeconds, t = TimeoutSeconds] {
    pthread_setname_np(pthread_self(), "CheckVersionTh");
    s->NewVersion = false;
    std::string body;
    if (Get(url, ct, t, body)) s->NewVersion = ReplyNamesNewVersion(body, cur);
    s->Finished = true;
  }).detach();
}

bool TCheckVersion::Finished() const { return state_->Finished; }
bool TCheckVersion::NewVersion() const { return state_->NewVersion; }
