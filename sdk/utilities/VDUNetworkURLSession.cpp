#include "sdk/utilities/VDUNetworkURLSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <system_error>

#include "platform/folders/Folders.h"
#include "sdk/utilities/AssertionHandler.h"
#include "sdk/utilities/Date.h"
#include "sdk/utilities/VDULogger.h"
#include "sdk/utilities/VDUMutableDictionary.h"
#include "sdk/utilities/VDUNetworkError.h"
#include "sdk/utilities/VDURandomBytes.h"

namespace {

using platform::HTTPURLResponse;
using platform::URLRequest;
using platform::URLSessionConfiguration;
using platform::URLTaskSession;

constexpr const char* kBackupAttribute = "user.xdg.robots.backup";

// A new upper-case UUID (version 4).
std::string makeUUID() {
    std::array<unsigned char, 16> bytes{};
    if (!VDURandomBytes(bytes.data(), bytes.size())) {
        std::random_device device;
        for (unsigned char& byte : bytes) {
            byte = static_cast<unsigned char>(device());
        }
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        std::array<char, 3> hex{};
        std::snprintf(hex.data(), hex.size(), "%02X", bytes[i]);
        text += hex.data();
    }
    return text;
}

// The fetcher map: session ID to fetcher, held weakly.
struct FetcherMap {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<VDUNetworkURLSession>> fetchers;  // guarded by mutex
};

FetcherMap& fetcherMap() {
    static FetcherMap& map = *new FetcherMap();  // lives for the process
    return map;
}

VDUMutableDictionary<std::string, VDUNetworkURLSession::SystemCompletionHandler>&
systemCompletionHandlers() {
    static VDUMutableDictionary<std::string, VDUNetworkURLSession::SystemCompletionHandler>& store =
        *new VDUMutableDictionary<
            std::string, VDUNetworkURLSession::SystemCompletionHandler>();  // lives for the process
    return store;
}

sdk::Error errnoError(int code, const std::string& what) {
    return sdk::Error("NSPOSIXErrorDomain", code,
                      what + ": " + std::generic_category().message(code));
}

}  // namespace

std::shared_ptr<VDUNetworkURLSession> VDUNetworkURLSession::create(
    std::weak_ptr<VDUNetworkLoggerDelegate> loggerDelegate) {
    return std::make_shared<VDUNetworkURLSession>(Passkey(), std::move(loggerDelegate));
}

VDUNetworkURLSession::VDUNetworkURLSession(Passkey,
                                           std::weak_ptr<VDUNetworkLoggerDelegate> loggerDelegate)
    : sessionID_(std::string(kVDUNetworkBackgroundUploadPrefix) + "-" + makeUUID()),
      networkDirectoryURL_(platform::applicationSupportFolder() / "VDU/Network" /
                           "VDUNetworkTemporaryDirectory"),
      loggerDelegate_(std::move(loggerDelegate)) {}

void VDUNetworkURLSession::setSessionID(std::string sessionID) {
    sessionID_ = std::move(sessionID);
}

URLSessionConfiguration VDUNetworkURLSession::sessionConfig() const {
    std::lock_guard lock(mutex_);
    return sessionConfig_;
}

std::string VDUNetworkURLSession::description() const {
    return "<VDUNetworkURLSession: " + sessionID_ + ">";
}

std::filesystem::path VDUNetworkURLSession::temporaryFilePathWithSessionID(
    const std::string& sessionID) const {
    return networkDirectoryURL_ / ("VDUUpload_temp_" + sessionID);
}

std::optional<std::string> VDUNetworkURLSession::sessionIDFromAsyncPOSTRequest(
    const URLRequest& request, CompletionHandler handler) {
    const std::filesystem::path file = temporaryFilePathWithSessionID(sessionID_);
    {
        std::lock_guard lock(mutex_);
        uploadingFileURL_ = file;
    }
    maybeRemoveTempFilesAtURL(networkDirectoryURL_, kVDUNetworkTempFileExpiry);
    const std::string body = request.body.value_or(std::string());
    bool written = false;
    if (backgroundNetworkEnabled_ && ensureTemporaryDirectoryExists()) {
        written = writeBody(body);
    }
    URLSessionConfiguration configuration;
    if (written) {
        excludeFromBackupForURL(file);
        configuration = URLSessionConfiguration::backgroundConfiguration(sessionID_);
    }
    return start(
        std::move(configuration), request,
        [&](URLTaskSession& session) {
            URLRequest withoutBody = request;
            withoutBody.body.reset();
            return written ? session.uploadTask(std::move(withoutBody), file)
                           : session.uploadTask(std::move(withoutBody), body);
        },
        std::move(handler));
}

std::optional<std::string> VDUNetworkURLSession::sessionIDFromAsyncGETRequest(
    const URLRequest& request, CompletionHandler handler) {
    URLSessionConfiguration configuration =
        backgroundNetworkEnabled_ ? URLSessionConfiguration::backgroundConfiguration(sessionID_)
                                  : URLSessionConfiguration::defaultConfiguration();
    // Sessions of this layer keep no cache, so there is none to switch off here.
    return start(
        std::move(configuration), request,
        [&](URLTaskSession& session) { return session.downloadTask(request); }, std::move(handler));
}

std::optional<std::string> VDUNetworkURLSession::start(
    URLSessionConfiguration configuration, const URLRequest& request,
    const std::function<std::shared_ptr<platform::URLSessionTask>(URLTaskSession&)>& makeTask,
    CompletionHandler handler) {
    populateSessionConfig(configuration, request);
    std::shared_ptr<URLTaskSession> session =
        URLTaskSession::create(configuration, shared_from_this(), platform::DispatchQueue::main());
    std::shared_ptr<platform::URLSessionTask> task = session ? makeTask(*session) : nullptr;
    if (!task) {
        callCompletionHandler(std::move(handler), std::nullopt, std::nullopt,
                              VDUNetworkError(VDUNetworkErrorCodeRequestFailed));
        return std::nullopt;
    }
    {
        std::lock_guard lock(mutex_);
        sessionConfig_ = configuration;
        URLSession_ = session;
        request_ = request;
        completionHandler_ = std::move(handler);
    }
    setSessionInFetcherMap(shared_from_this(), sessionID_);
    // Every HTTPS request has its server verified by the transfer library.
    if (request.url.starts_with("https:")) {
        log(VDUNetworkLogLevelDebug, 901006, "Received SSL challenge for host. Host",
            sdk::Value(request.url));
    }
    task->resume();
    return sessionID_;
}

// The request's headers travel with the request only: session-wide headers would go on with
// every hop of a redirect, where the session cannot tell the caller's secrets from its own.
void VDUNetworkURLSession::populateSessionConfig(URLSessionConfiguration& configuration,
                                                 const URLRequest& request) {
    configuration.timeoutIntervalForRequest = request.timeout;
    configuration.timeoutIntervalForResource = request.timeout;
}

// The body goes to a file only its owner can read, written whole under a temporary name first.
bool VDUNetworkURLSession::writeBody(const std::string& body) {
    const std::filesystem::path file = temporaryFilePathWithSessionID(sessionID_);
    std::filesystem::path partial = file;
    partial += ".partial";
    int code = 0;
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        code = errno != 0 ? errno : EIO;
    } else {
        std::size_t written = 0;
        while (code == 0 && written < body.size()) {
            const ssize_t wrote = ::write(fd, body.data() + written, body.size() - written);
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            code = wrote <= 0 ? (errno != 0 ? errno : EIO) : 0;
            written += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
        }
        if (code == 0 && (::fchmod(fd, 0600) != 0 || ::fsync(fd) != 0)) {
            code = errno;
        }
        if (::close(fd) != 0 && code == 0) {
            code = errno;
        }
    }
    if (code == 0 && std::rename(partial.c_str(), file.c_str()) != 0) {
        code = errno;
    }
    if (code != 0) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        log(VDUNetworkLogLevelError, 901000, "Failed to write request data to file",
            VDUNetworkErrorContext(errnoError(code, file.string())));
        return false;
    }
    return true;
}

bool VDUNetworkURLSession::ensureTemporaryDirectoryExists() {
    std::error_code error;
    if (std::filesystem::is_directory(networkDirectoryURL_, error)) {
        // Bodies waiting here are the user's data: the folder is its owner's alone.
        if (::chmod(networkDirectoryURL_.c_str(), 0700) != 0) {
            log(VDUNetworkLogLevelWarning, 901014,
                "Error while trying to access Network temp folder. Error",
                VDUNetworkErrorContext(errnoError(errno, networkDirectoryURL_.string())));
            return false;
        }
        return true;
    }
    if (error && error != std::errc::no_such_file_or_directory) {
        log(VDUNetworkLogLevelWarning, 901014,
            "Error while trying to access Network temp folder. Error",
            VDUNetworkErrorContext(errnoError(error.value(), networkDirectoryURL_.string())));
    }
    std::filesystem::create_directories(networkDirectoryURL_, error);
    if (!error && ::chmod(networkDirectoryURL_.c_str(), 0700) != 0) {
        error = std::error_code(errno, std::generic_category());
    }
    if (error) {
        log(VDUNetworkLogLevelError, 901015, "Cannot create temporary directory. Error",
            VDUNetworkErrorContext(errnoError(error.value(), networkDirectoryURL_.string())));
        return false;
    }
    excludeFromBackupForURL(networkDirectoryURL_);
    return true;
}

void VDUNetworkURLSession::excludeFromBackupForURL(const std::filesystem::path& path) {
    if (path.empty()) {
        return;
    }
    if (setxattr(path.c_str(), kBackupAttribute, "false", 5, 0) != 0 && errno != ENOTSUP) {
        log(VDUNetworkLogLevelError, 901016, "Cannot exclude temporary folder from iTunes backup");
    }
}

void VDUNetworkURLSession::maybeRemoveTempFilesAtURL(const std::filesystem::path& folder,
                                                     double expiringTime) {
    if (folder.empty()) {
        return;
    }
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) {
        if (error != std::errc::no_such_file_or_directory) {
            log(VDUNetworkLogLevelDebug, 901012,
                "Cannot get files from the temporary network folder. Error",
                VDUNetworkErrorContext(errnoError(error.value(), folder.string())));
        }
        return;
    }
    const double now = sdk::Date::now().timeIntervalSince1970();
    for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        if (error) {
            break;
        }
        // Files here are written once, so the modification time is the creation date.
        struct stat info {};
        if (stat(entries->path().c_str(), &info) != 0) {
            continue;
        }
        const double created = static_cast<double>(info.st_mtim.tv_sec) +
                               static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
        if (std::fabs(now - created) > expiringTime) {
            removeTempItemAtURL(entries->path());
        }
    }
}

void VDUNetworkURLSession::removeTempItemAtURL(const std::filesystem::path& path) {
    if (path.empty()) {
        return;
    }
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        log(VDUNetworkLogLevelError, 901013,
            "Failed to remove temporary uploading data file. Error", sdk::Value(error.message()));
    }
}

void VDUNetworkURLSession::didReceiveData(URLTaskSession&, platform::URLSessionTask&,
                                          const std::string& data) {
    std::lock_guard lock(mutex_);
    if (!downloadedData_) {
        downloadedData_.emplace();
    }
    downloadedData_->insert(downloadedData_->end(), data.begin(), data.end());
}

void VDUNetworkURLSession::didFinishDownloading(URLTaskSession&, platform::URLSessionTask&,
                                                const std::filesystem::path& location) {
    Data contents;
    if (location.empty()) {
        log(VDUNetworkLogLevelError, 901001, "Unable to read downloaded data from empty temp path");
    } else {
        std::ifstream in(location, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad() || !in.is_open()) {
            log(VDUNetworkLogLevelError, 901002, "Cannot read the content of downloaded data",
                VDUNetworkErrorContext(errnoError(EIO, location.string())));
        } else {
            contents = sdk::Bytes(bytes.begin(), bytes.end());
        }
    }
    std::lock_guard lock(mutex_);
    downloadedData_ = std::move(contents);
}

void VDUNetworkURLSession::willPerformHTTPRedirection(
    URLTaskSession&, platform::URLSessionTask&, const HTTPURLResponse& response,
    URLRequest proposed, std::function<void(std::optional<URLRequest>)> completion) {
    const long status = response.statusCode;
    if (status == 302 || status == 301 || status == 307 || status == 300) {
        completion(std::nullopt);
    } else {
        completion(std::move(proposed));
    }
}

void VDUNetworkURLSession::didComplete(URLTaskSession& session, platform::URLSessionTask& task,
                                       const std::optional<platform::URLSessionError>& failure) {
    CompletionHandler handler;
    Data data;
    std::filesystem::path uploadingFile;
    {
        std::lock_guard lock(mutex_);
        handler = std::exchange(completionHandler_, nullptr);
        data = downloadedData_;
        uploadingFile = uploadingFileURL_;
    }
    const Response response = task.response();
    sdk::Error error;
    if (response && response->url.rfind("http", 0) != 0) {
        sdk::handleAssertionFailure("VDUNetworkURLSession", "URL response must be HTTP");
    }
    // A transport error after the response head (a body cut short, past the cap, stalled) is
    // an error too: the data the caller gets is not the whole body.
    if (failure) {
        if (failure->trustFailure) {
            logTrustFailure(*failure);
        }
        error = VDUNetworkTransportError(failure->code, failure->message);
    } else if (!response) {
        error = VDUNetworkError(VDUNetworkErrorCodeEmptyResponse);
    }
    // Data of a body that did not arrive whole is not handed on.
    callCompletionHandler(std::move(handler), response, error.ok() ? data : Data(), error);
    removeTempItemAtURL(uploadingFile);
    maybeRemoveTempFilesAtURL(networkDirectoryURL_, kVDUNetworkTempFileExpiry);
    session.finishTasksAndInvalidate();
    if (!session.configuration().identifier.empty()) {
        setSessionInFetcherMap(nullptr, session.configuration().identifier);
    }
}

void VDUNetworkURLSession::logTrustFailure(const platform::URLSessionError& failure) {
    std::string url;
    {
        std::lock_guard lock(mutex_);
        url = request_.url;
    }
    log(VDUNetworkLogLevelError, 901008, "Cannot evaluate server trust. Error, host",
        std::vector<sdk::Value>{sdk::Value(failure.code), sdk::Value(url)});
    log(VDUNetworkLogLevelDebug, 901007, "Cancelling authentication challenge for host. Host",
        sdk::Value(url));
}

void VDUNetworkURLSession::callCompletionHandler(CompletionHandler handler,
                                                 const Response& response, const Data& data,
                                                 const sdk::Error& error) {
    if (!error.ok()) {
        log(VDUNetworkLogLevelError, 901017, "Encounter network error. Code, error",
            std::vector<sdk::Value>{sdk::Value(error.code()), VDUNetworkErrorContext(error)});
    }
    if (handler) {
        platform::DispatchQueue::main()->async(
            [handler = std::move(handler), response, data, sessionID = sessionID_, error] {
                handler(response, data, sessionID, error);
            });
    }
}

void VDUNetworkURLSession::setSessionInFetcherMap(
    const std::shared_ptr<VDUNetworkURLSession>& fetcher, const std::string& sessionID) {
    FetcherMap& map = fetcherMap();
    std::lock_guard lock(map.mutex);
    std::erase_if(map.fetchers, [](const auto& entry) { return entry.second.expired(); });
    auto found = map.fetchers.find(sessionID);
    if (found != map.fetchers.end()) {
        if (std::shared_ptr<VDUNetworkURLSession> old = found->second.lock();
            old && old != fetcher) {
            if (fetcher) {
                old->log(VDUNetworkLogLevelInfo, 901019,
                         "Discarding session: " + old->description());
            }
            std::shared_ptr<URLTaskSession> session;
            {
                std::lock_guard oldLock(old->mutex_);
                session = old->URLSession_.lock();
            }
            if (session) {
                session->finishTasksAndInvalidate();
            }
        }
    }
    if (fetcher) {
        map.fetchers.insert_or_assign(sessionID, fetcher);
    } else if (found != map.fetchers.end()) {
        map.fetchers.erase(found);
    }
}

std::shared_ptr<VDUNetworkURLSession> VDUNetworkURLSession::sessionFromFetcherMapForSessionID(
    const std::string& sessionID) {
    FetcherMap& map = fetcherMap();
    std::lock_guard lock(map.mutex);
    auto found = map.fetchers.find(sessionID);
    return found == map.fetchers.end() ? nullptr : found->second.lock();
}

std::shared_ptr<VDUNetworkURLSession> VDUNetworkURLSession::fetcherWithSessionIdentifier(
    const std::string& sessionID) {
    if (std::shared_ptr<VDUNetworkURLSession> mapped =
            sessionFromFetcherMapForSessionID(sessionID)) {
        return mapped;
    }
    if (!sessionID.starts_with(kVDUNetworkBackgroundUploadPrefix)) {
        return nullptr;
    }
    std::shared_ptr<VDUNetworkURLSession> fetcher = create({});
    fetcher->setSessionID(sessionID);
    setSessionInFetcherMap(fetcher, sessionID);
    return fetcher;
}

void VDUNetworkURLSession::handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                                 SystemCompletionHandler handler) {
    if (!sessionID.starts_with(kVDUNetworkBackgroundUploadPrefix)) {
        return;
    }
    std::shared_ptr<VDUNetworkURLSession> fetcher = fetcherWithSessionIdentifier(sessionID);
    if (!fetcher) {
        VDULoggerLogError(
            "com.vovidu.utilities.logger", "[VDUNetwork]", false, "I-NET900003",
            "Failed to retrieve background session with ID %@ after app is relaunched.",
            sdk::Value(sessionID));
        return;
    }
    fetcher->addSystemCompletionHandler(std::move(handler), sessionID);
}

void VDUNetworkURLSession::addSystemCompletionHandler(SystemCompletionHandler handler,
                                                      const std::string& sessionID) {
    if (!handler) {
        log(VDUNetworkLogLevelError, 901009,
            "Cannot store nil system completion handler in network");
        return;
    }
    if (sessionID.empty()) {
        log(VDUNetworkLogLevelError, 901010,
            "Cannot store system completion handler with empty network session identifier");
        return;
    }
    if (systemCompletionHandlers().objectForKey(sessionID)) {
        log(VDUNetworkLogLevelWarning, 901011,
            "Got multiple system handlers for a single session ID", sdk::Value(sessionID));
    }
    systemCompletionHandlers().setObject(std::move(handler), sessionID);
}

void VDUNetworkURLSession::callSystemCompletionHandler(const std::string& sessionID) {
    std::optional<SystemCompletionHandler> handler =
        systemCompletionHandlers().objectForKey(sessionID);
    if (!handler) {
        return;
    }
    systemCompletionHandlers().removeObjectForKey(sessionID);
    platform::DispatchQueue::main()->async(std::move(*handler));
}

void VDUNetworkURLSession::log(std::int64_t level, std::int64_t code,
                               const std::string& message) const {
    if (std::shared_ptr<VDUNetworkLoggerDelegate> delegate = loggerDelegate_.lock()) {
        delegate->VDUNetwork_logWithLevel(level, code, message);
    }
}

void VDUNetworkURLSession::log(std::int64_t level, std::int64_t code, const std::string& message,
                               const sdk::Value& context) const {
    if (std::shared_ptr<VDUNetworkLoggerDelegate> delegate = loggerDelegate_.lock()) {
        delegate->VDUNetwork_logWithLevel(level, code, message, context);
    }
}

void VDUNetworkURLSession::log(std::int64_t level, std::int64_t code, const std::string& message,
                               const std::vector<sdk::Value>& contexts) const {
    if (std::shared_ptr<VDUNetworkLoggerDelegate> delegate = loggerDelegate_.lock()) {
        delegate->VDUNetwork_logWithLevel(level, code, message, contexts);
    }
}
