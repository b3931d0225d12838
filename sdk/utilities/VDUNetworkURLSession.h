#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/urlsession/URLTaskSession.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUNetworkLoggerDelegate.h"
#include "sdk/utilities/Value.h"

// Prefix of every session ID; fetchers are recreated only for IDs with this prefix.
inline constexpr std::string_view kVDUNetworkBackgroundUploadPrefix =
    "com.vdu.network.background-upload";
// Temporary upload bodies older than this many seconds are removed.
inline constexpr double kVDUNetworkTempFileExpiry = 3600.0;

// One request of the network client (the fetcher): drives one URL session, keeps a background
// upload's body in a temporary file, collects the response body, refuses redirects 300, 301,
// 302 and 307, and removes old temporary files.
//
// Design notes:
// 1. Lifetime: VDUNetwork keeps a running fetcher; its session keeps it as delegate until the
//    task is done; the class-wide fetcher map holds it weakly under its session ID.
// 2. States: made -> sessionIDFrom...Request -> running (session and task made, handler kept)
//    -> completed (handler taken and dispatched to the main queue once, temp file removed,
//    session invalidated). A failure to make the session or task reports code 4 once.
// 3. Session delegate calls arrive on the main queue; the collected data is guarded by mutex_.
//
// Thread-safety: the request calls from any one thread; the class functions from any thread.
class VDUNetworkURLSession : public platform::URLSessionDelegate,
                             public std::enable_shared_from_this<VDUNetworkURLSession> {
  public:
    using Response = std::optional<platform::HTTPURLResponse>;
    using Data = std::optional<sdk::Bytes>;
    // (response, data, session ID, error); run once on the main queue.
    using CompletionHandler =
        std::function<void(const Response&, const Data&, const std::string&, const sdk::Error&)>;
    using SystemCompletionHandler = std::function<void()>;

    // Makes a fetcher with a new session ID that logs through `loggerDelegate` (held weakly).
    static std::shared_ptr<VDUNetworkURLSession> create(
        std::weak_ptr<VDUNetworkLoggerDelegate> loggerDelegate);

    // Sends `request` (a POST with its body) and returns the session ID, or no value after
    // reporting code 4 to `handler`.
    std::optional<std::string> sessionIDFromAsyncPOSTRequest(const platform::URLRequest& request,
                                                             CompletionHandler handler);
    // The same for a GET.
    std::optional<std::string> sessionIDFromAsyncGETRequest(const platform::URLRequest& request,
                                                            CompletionHandler handler);

    // For IDs with the background prefix: finds or makes the fetcher and stores `handler` for
    // the ID (it is never run here). Otherwise does nothing.
    static void handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                      SystemCompletionHandler handler);
    // The mapped fetcher; else, for an ID with the background prefix, a new one registered
    // under it; else null.
    static std::shared_ptr<VDUNetworkURLSession> fetcherWithSessionIdentifier(
        const std::string& sessionID);
    // Stores `fetcher` (weakly) under `sessionID`, or removes the entry for null; an earlier
    // fetcher's session is told to finish and invalidate.
    static void setSessionInFetcherMap(const std::shared_ptr<VDUNetworkURLSession>& fetcher,
                                       const std::string& sessionID);
    static std::shared_ptr<VDUNetworkURLSession> sessionFromFetcherMapForSessionID(
        const std::string& sessionID);

    void addSystemCompletionHandler(SystemCompletionHandler handler, const std::string& sessionID);
    // Runs and forgets the handler stored for `sessionID`, on the main queue.
    void callSystemCompletionHandler(const std::string& sessionID);

    const std::string& sessionID() const { return sessionID_; }
    void setSessionID(std::string sessionID);
    bool isBackgroundNetworkEnabled() const { return backgroundNetworkEnabled_; }
    void setBackgroundNetworkEnabled(bool enabled) { backgroundNetworkEnabled_ = enabled; }
    // The configuration of the running session (empty before one is made).
    platform::URLSessionConfiguration sessionConfig() const;
    const std::filesystem::path& networkDirectoryURL() const { return networkDirectoryURL_; }
    std::string description() const;

    // platform::URLSessionDelegate, on the main queue.
    void didReceiveData(platform::URLTaskSession& session, platform::URLSessionTask& task,
                        const std::string& data) override;
    void didFinishDownloading(platform::URLTaskSession& session, platform::URLSessionTask& task,
                              const std::filesystem::path& location) override;
    void willPerformHTTPRedirection(
        platform::URLTaskSession& session, platform::URLSessionTask& task,
        const platform::HTTPURLResponse& response, platform::URLRequest proposed,
        std::function<void(std::optional<platform::URLRequest>)> completion) override;
    void didComplete(platform::URLTaskSession& session, platform::URLSessionTask& task,
                     const std::optional<platform::URLSessionError>& error) override;

    // Public only for std::make_shared; use create().
    struct Passkey {
        explicit Passkey() = default;
    };
    VDUNetworkURLSession(Passkey, std::weak_ptr<VDUNetworkLoggerDelegate> loggerDelegate);

  private:
    std::optional<std::string> start(
        platform::URLSessionConfiguration configuration, const platform::URLRequest& request,
        const std::function<std::shared_ptr<platform::URLSessionTask>(platform::URLTaskSession&)>&
            makeTask,
        CompletionHandler handler);
    std::filesystem::path temporaryFilePathWithSessionID(const std::string& sessionID) const;
    void maybeRemoveTempFilesAtURL(const std::filesystem::path& folder, double expiringTime);
    bool ensureTemporaryDirectoryExists();
    void excludeFromBackupForURL(const std::filesystem::path& path);
    void removeTempItemAtURL(const std::filesystem::path& path);
    bool writeBody(const std::string& body);
    static void populateSessionConfig(platform::URLSessionConfiguration& configuration,
                                      const platform::URLRequest& request);
    void callCompletionHandler(CompletionHandler handler, const Response& response,
                               const Data& data, const sdk::Error& error);
    void logTrustFailure(const platform::URLSessionError& error);

    void log(std::int64_t level, std::int64_t code, const std::string& message) const;
    void log(std::int64_t level, std::int64_t code, const std::string& message,
             const sdk::Value& context) const;
    void log(std::int64_t level, std::int64_t code, const std::string& message,
             const std::vector<sdk::Value>& contexts) const;

    mutable std::mutex mutex_;
    CompletionHandler completionHandler_;                 // guarded by mutex_
    std::string sessionID_;                               // set before the request starts
    platform::URLSessionConfiguration sessionConfig_;     // guarded by mutex_
    std::weak_ptr<platform::URLTaskSession> URLSession_;  // guarded by mutex_
    const std::filesystem::path networkDirectoryURL_;
    Data downloadedData_;                     // guarded by mutex_
    std::filesystem::path uploadingFileURL_;  // guarded by mutex_
    platform::URLRequest request_;            // guarded by mutex_
    bool backgroundNetworkEnabled_ = false;   // set before the request starts
    const std::weak_ptr<VDUNetworkLoggerDelegate> loggerDelegate_;
};
