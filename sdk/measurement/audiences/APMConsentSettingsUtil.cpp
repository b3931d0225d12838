#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

#include "sdk/measurement/storage/APMConsentNames.h"

namespace {

// The one consent state; only blocks of the serial queue touch it. Never destroyed, as a
// block may still run while the process exits.
APMConsentState& state() {
    static APMConsentState* const shared = new APMConsentState();
    return *shared;
}

// What events are written under after `applied` writes; only the queue's blocks publish it.
struct PublishedSnapshot {
    std::uint64_t applied = 0;
    std::shared_ptr<const APMConsentSnapshot> snapshot;
};

// Counts the writes issued (before they are queued) and guards the published snapshot.
struct SnapshotRecord {
    std::atomic<std::uint64_t> issued{0};
    std::mutex mutex;
    PublishedSnapshot published;  // guarded by mutex
};

SnapshotRecord& snapshotRecord() {
    static SnapshotRecord* const record = new SnapshotRecord();  // lives for the process
    return *record;
}

std::shared_ptr<const APMConsentSnapshot> snapshotOf(const APMConsentState& s) {
    auto snapshot = std::make_shared<APMConsentSnapshot>();
    snapshot->consentSignals = s.consentSignals();
    // The diagnostics refresh the digits they show; a copy keeps the state as a reader left it.
    APMConsentState copy = s;
    snapshot->consentDiagnostics = copy.consentDiagnostics();
    const std::optional<std::string> adUserData = s.resolvedAdUserData();
    snapshot->adUserDataDenied = adUserData && APMConsentStatusFromString(*adUserData) == 2;
    return snapshot;
}

// Runs `read` on the queue and waits for its result.
template <typename Result>
Result readState(const std::function<Result(APMConsentState&)>& read) {
    Result result{};
    APMConsentSettingsUtil::serialQueue()->sync([&] { result = read(state()); });
    return result;
}

void writeState(std::function<void(APMConsentState&)> write) {
    SnapshotRecord& record = snapshotRecord();
    record.issued.fetch_add(1);
    APMConsentSettingsUtil::serialQueue()->async([write = std::move(write), &record] {
        write(state());
        std::shared_ptr<const APMConsentSnapshot> snapshot = snapshotOf(state());
        std::lock_guard lock(record.mutex);
        ++record.published.applied;
        record.published.snapshot = std::move(snapshot);
    });
}

bool equalPriority(std::int64_t current, std::int64_t source) {
    return current == source ||
           (current == APMConsentSource::kTCF && source == APMConsentSource::kThirdParty) ||
           (current == APMConsentSource::kThirdParty && source == APMConsentSource::kTCF);
}

using Settings = std::optional<APMConsentSettings>;

}  // namespace

const platform::QueueRef& APMConsentSettingsUtil::serialQueue() {
    static const platform::QueueRef& queue =
        *new platform::QueueRef(platform::DispatchQueue::createSerial(
            "APMConsentSettingsUtilQueue"));  // lives for the process
    return queue;
}

Settings APMConsentSettingsUtil::consentSettings() {
    return readState<Settings>([](APMConsentState& s) { return s.consentSettings; });
}
Settings APMConsentSettingsUtil::defaultSettings() {
    return readState<Settings>([](APMConsentState& s) { return s.defaultSettings; });
}
Settings APMConsentSettingsUtil::delegatedSettings() {
    return readState<Settings>([](APMConsentState& s) { return s.delegatedSettings; });
}
Settings APMConsentSettingsUtil::regionalDefaults() {
    return readState<Settings>([](APMConsentState& s) { return s.regionalDefaults; });
}
std::int64_t APMConsentSettingsUtil::consentSource() {
    return readState<std::int64_t>([](APMConsentState& s) { return s.consentSource; });
}
std::int64_t APMConsentSettingsUtil::version() {
    return readState<std::int64_t>([](APMConsentState& s) { return s.version; });
}

void APMConsentSettingsUtil::setConsentSettings(Settings settings) {
    writeState([settings = std::move(settings)](APMConsentState& s) {
        s.consentSettings = settings;
        if (!settings) {
            s.consentSource = APMConsentSource::kUnset;
            s.refreshDiagnosticSources(true);
        }
    });
}
void APMConsentSettingsUtil::setDefaultSettings(Settings settings) {
    writeState(
        [settings = std::move(settings)](APMConsentState& s) { s.defaultSettings = settings; });
}
void APMConsentSettingsUtil::setDelegatedSettings(Settings settings) {
    writeState(
        [settings = std::move(settings)](APMConsentState& s) { s.delegatedSettings = settings; });
}
void APMConsentSettingsUtil::setRegionalDefaults(Settings settings) {
    writeState(
        [settings = std::move(settings)](APMConsentState& s) { s.regionalDefaults = settings; });
}
void APMConsentSettingsUtil::setConsentSource(std::int64_t source) {
    writeState([source](APMConsentState& s) {
        s.consentSource = source;
        s.refreshDiagnosticSources(true);
    });
}
void APMConsentSettingsUtil::setVersion(std::int64_t version) {
    if (version != 1 && version != 2) {
        return;
    }
    writeState([version](APMConsentState& s) { s.version = version; });
}

void APMConsentSettingsUtil::updateSettings(const APMConsentSettings& settings) {
    writeState([settings](APMConsentState& s) { s.update(settings); });
}

void APMConsentSettingsUtil::updateSettings(const APMConsentSettings& settings,
                                            std::int64_t source) {
    writeState([settings, source](APMConsentState& s) {
        s.update(settings);
        s.consentSource = source;
        for (const auto& entry : settings) {
            s.setDiagnosticSource(APMConsentDiagnosticDigitForSource(source), entry.first);
        }
    });
}

bool APMConsentSettingsUtil::isConsentSourceEqualPriority(std::int64_t source) {
    return equalPriority(consentSource(), source);
}

bool APMConsentSettingsUtil::isConsentSourceHigherPriority(std::int64_t source) {
    const std::int64_t current = consentSource();
    return equalPriority(current, source) || current >= source;
}

bool APMConsentSettingsUtil::isAdStorageDenied() {
    return readState<bool>([](APMConsentState& s) { return s.isDenied("ad_storage"); });
}
bool APMConsentSettingsUtil::isAnalyticsStorageDenied() {
    return readState<bool>([](APMConsentState& s) { return s.isDenied("analytics_storage"); });
}
bool APMConsentSettingsUtil::isAdUserDataDenied() {
    return readState<bool>([](APMConsentState& s) {
        const std::optional<std::string> resolved = s.resolvedAdUserData();
        return resolved && APMConsentStatusFromString(*resolved) == 2;
    });
}
bool APMConsentSettingsUtil::didAdUserDataConsentChange(bool wasDenied) {
    return isAdUserDataDenied() != wasDenied;
}

std::optional<std::int64_t> APMConsentSettingsUtil::adPersonalization() {
    return readState<std::optional<std::int64_t>>(
        [](APMConsentState& s) -> std::optional<std::int64_t> {
            const std::optional<std::string> resolved = s.resolvedAdPersonalization();
            const std::int64_t status = resolved ? APMConsentStatusFromString(*resolved) : 0;
            if (status == 0) {
                return std::nullopt;
            }
            return status == 1 ? 1 : 0;
        });
}

void APMConsentSettingsUtil::unsetAdPersonalization() {
    writeState([](APMConsentState& s) {
        if (s.consentSettings) {
            s.consentSettings->erase("ad_personalization");
        }
        s.setDiagnosticSource(0, "ad_personalization");
    });
}

void APMConsentSettingsUtil::clearAllSettings() {
    writeState([](APMConsentState& s) { s.clear(); });
}

APMConsentSettings APMConsentSettingsUtil::consentSettingsFromDictionary(
    const APMConsentSettings& dictionary) {
    APMConsentSettings result;
    for (std::int64_t type = 1; type <= 4; ++type) {
        const auto found = dictionary.find(APMConsentTypeString(type));
        if (found != dictionary.end()) {
            result.insert(*found);
        }
    }
    return result;
}

void APMConsentSettingsUtil::setDiagnosticSource(std::int64_t digit, std::string_view consentType) {
    writeState([digit, type = std::string(consentType)](APMConsentState& s) {
        s.setDiagnosticSource(digit, type);
    });
}

std::string APMConsentSettingsUtil::consentSignals() {
    return readState<std::string>([](APMConsentState& s) { return s.consentSignals(); });
}
std::string APMConsentSettingsUtil::consentDiagnostics() {
    return readState<std::string>([](APMConsentState& s) { return s.consentDiagnostics(); });
}
std::string APMConsentSettingsUtil::description() {
    return readState<std::string>([](APMConsentState& s) { return s.description(); });
}

std::shared_ptr<const APMConsentSnapshot> APMConsentSettingsUtil::snapshot() {
    SnapshotRecord& record = snapshotRecord();
    const std::uint64_t issued = record.issued.load();
    {
        std::lock_guard lock(record.mutex);
        if (record.published.snapshot && record.published.applied >= issued) {
            return record.published.snapshot;
        }
    }
    // Taken on the queue, it is also the state after the writes applied so far.
    return readState<std::shared_ptr<const APMConsentSnapshot>>([&record](APMConsentState& s) {
        std::shared_ptr<const APMConsentSnapshot> snapshot = snapshotOf(s);
        std::lock_guard lock(record.mutex);
        record.published.snapshot = snapshot;
        return snapshot;
    });
}

std::uint64_t APMConsentSettingsUtil::writesIssued() {
    return snapshotRecord().issued.load();
}
