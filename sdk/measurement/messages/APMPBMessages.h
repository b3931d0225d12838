#pragma once

#include "sdk/measurement/messages/APMPBMessage.h"
#include "sdk/measurement/messages/MessageSlots.h"

// The wrapper classes. ConsentInfoExtra, LimitedDataEntry, MarketReferrerCadParamsEntry and
// Region have none: they live only inside their parents.
using APMPBAdCampaignInfo = APMPBMessage<apmpb::kAdCampaignInfoType>;
using APMPBAppProperty = APMPBMessage<apmpb::kAppPropertyType>;
using APMPBAudience = APMPBMessage<apmpb::kAudienceType>;
using APMPBAudienceLeafFilterResult = APMPBMessage<apmpb::kAudienceLeafFilterResultType>;
using APMPBClientProperty = APMPBMessage<apmpb::kClientPropertyType>;
using APMPBConsentConfig = APMPBMessage<apmpb::kConsentConfigType>;
using APMPBConsentDefaultEntry = APMPBMessage<apmpb::kConsentDefaultEntryType>;
using APMPBConsentDelegationEntry = APMPBMessage<apmpb::kConsentDelegationEntryType>;
using APMPBCorePlatformServiceEntry = APMPBMessage<apmpb::kCorePlatformServiceEntryType>;
using APMPBCustomProperty = APMPBMessage<apmpb::kCustomPropertyType>;
using APMPBDataControl = APMPBMessage<apmpb::kDataControlType>;
using APMPBDeepLinkCadParamsEntry = APMPBMessage<apmpb::kDeepLinkCadParamsEntryType>;
using APMPBDynamicFilterResultTimestamp = APMPBMessage<apmpb::kDynamicFilterResultTimestampType>;
using APMPBEvent = APMPBMessage<apmpb::kEventType>;
using APMPBEventConfig = APMPBMessage<apmpb::kEventConfigType>;
using APMPBEventFilter = APMPBMessage<apmpb::kEventFilterType>;
using APMPBEventParam = APMPBMessage<apmpb::kEventParamType>;
using APMPBExperiment = APMPBMessage<apmpb::kExperimentType>;
using APMPBExperimentRequest = APMPBMessage<apmpb::kExperimentRequestType>;
using APMPBExperimentResponse = APMPBMessage<apmpb::kExperimentResponseType>;
using APMPBFilter = APMPBMessage<apmpb::kFilterType>;
using APMPBFlag = APMPBMessage<apmpb::kFlagType>;
using APMPBMeasurementBatch = APMPBMessage<apmpb::kMeasurementBatchType>;
using APMPBMeasurementBundle = APMPBMessage<apmpb::kMeasurementBundleType>;
using APMPBMeasurementConfig = APMPBMessage<apmpb::kMeasurementConfigType>;
using APMPBNumberFilter = APMPBMessage<apmpb::kNumberFilterType>;
using APMPBOgtActivities = APMPBMessage<apmpb::kOgtActivitiesType>;
using APMPBOgtActivity = APMPBMessage<apmpb::kOgtActivityType>;
using APMPBOnDeviceMeasurementInfo = APMPBMessage<apmpb::kOnDeviceMeasurementInfoType>;
using APMPBOnDeviceMeasurementValue = APMPBMessage<apmpb::kOnDeviceMeasurementValueType>;
using APMPBProgram = APMPBMessage<apmpb::kProgramType>;
using APMPBPropertyFilter = APMPBMessage<apmpb::kPropertyFilterType>;
using APMPBPsmSetting = APMPBMessage<apmpb::kPsmSettingType>;
using APMPBResultData = APMPBMessage<apmpb::kResultDataType>;
using APMPBRuntimeEntity = APMPBMessage<apmpb::kRuntimeEntityType>;
using APMPBSdkResponse = APMPBMessage<apmpb::kSdkResponseType>;
using APMPBSequenceFilterResultTimestamp = APMPBMessage<apmpb::kSequenceFilterResultTimestampType>;
using APMPBSetting = APMPBMessage<apmpb::kSettingType>;
using APMPBStgwSetting = APMPBMessage<apmpb::kStgwSettingType>;
using APMPBSnapshot = APMPBMessage<apmpb::kSnapshotType>;
using APMPBStringFilter = APMPBMessage<apmpb::kStringFilterType>;
using APMPBUserAttribute = APMPBMessage<apmpb::kUserAttributeType>;
