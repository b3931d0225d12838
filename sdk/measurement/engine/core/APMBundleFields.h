#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/messages/APMPBMessages.h"

class APMIdentity;
class APMRemoteConfig;

// The identifier, consent and data-control fields of a measurement bundle: which device and app
// identifiers a bundle may carry under the user's consent, the tracking authorisation and the
// server's data controls. Called on the worker queue when the raw-event metadata is built
// (overwrite true) and on each bundle again just before upload.

// Writes the consent signals and the identifiers the signals and the tracking status allow;
// removes the rest. With `overwrite` false, signals the bundle already holds are kept and
// decide.
void APMSetBundleIdentifiers(APMPBMeasurementBundle& bundle, std::string_view consentSignals,
                             bool gateIDFAOnATTMASEnabled, APMIdentity& identity, bool overwrite);

// Writes the consent diagnostics, the DMA region and the platform services, and puts `npa`
// (the "_npa" user attribute) into the bundle's user attributes (replacing one only with
// `overwrite`).
void APMSetBundleConsentFields(APMPBMeasurementBundle& bundle, std::string_view consentDiagnostics,
                               bool adUserDataDenied, const APMPBUserAttribute* npa,
                               APMRemoteConfig& remoteConfig, bool overwrite);

// True when `signals` has at least 4 characters and the fourth is '0', 'd' or 'D'.
bool APMIsAnalyticsStorageDeniedInSignals(std::string_view signals);

// True when some event of the bundle is named "_f".
bool APMBundleHasFirstOpenEvent(const APMPBMeasurementBundle& bundle);

// The bundle's first user attribute named "_npa", or null.
std::unique_ptr<APMPBUserAttribute> APMBundleNPAUserAttribute(const APMPBMeasurementBundle& bundle);

// Whether two bundles may share a batch: same consent signals, diagnostics, platform services,
// DMA region and "_npa" value (absent on both sides counts as equal). False when either is null.
bool APMBundlesHaveSameConsent(const APMPBMeasurementBundle* a, const APMPBMeasurementBundle* b);

// Applies the server's data controls ("app_instance_id", "user_id", "os_version",
// "device_info", "device_model", "enhanced_user_id") and lists them, in the order given, as the
// bundle's redacted fields.
void APMApplyDataControlsToBundle(APMPBMeasurementBundle& bundle,
                                  const std::vector<std::string>& dataControlKeys,
                                  APMIdentity& identity);
