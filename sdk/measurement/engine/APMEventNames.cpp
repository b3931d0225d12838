#include "sdk/measurement/engine/APMEventNames.h"

#include "sdk/measurement/engine/APMMonitor.h"

const std::map<std::string, std::string, std::less<>>& APMPublicEventNameMap() {
    static const std::map<std::string, std::string, std::less<>>& map =
        *new std::map<std::string, std::string, std::less<>>{
            {"adunit_exposure", "_xu"},
            {"ad_activeview", "_aa"},
            {"ad_click", "_ac"},
            {"ad_exposure", "_xa"},
            {"ad_impression", "_ai"},
            {"ad_query", "_aq"},
            {"ad_reward", "_ar"},
            {"app_clear_data", "_cd"},
            {"app_exception", "_ae"},
            {"app_remove", "_ui"},
            {"app_store_refund", "_asr"},
            {"app_store_subscription_cancel", "_asse"},
            {"app_store_subscription_convert", "_assc"},
            {"app_store_subscription_renew", "_assr"},
            {"app_update", "_au"},
            {"app_upgrade", "_ug"},
            {"first_open", "_f"},
            {"first_visit", "_v"},
            {"ma_campaign", "_cmp"},
            {"ma_extra_parameter", "_ep"},
            {"in_app_purchase", "_iap"},
            {"notification_dismiss", "_nd"},
            {"notification_foreground", "_nf"},
            {"notification_open", "_no"},
            {"notification_receive", "_nr"},
            {"os_update", "_ou"},
            {"screen_view", "_vs"},
            {"session_start", "_s"},
            {"session_start_with_rollout", "_ssr"},
            {"user_engagement", "_e"},
            {"razudizo_campaign", "_cmp"},
            {"error", "_err"},
        };  // lives for the process
    return map;
}

const std::map<std::string, std::string, std::less<>>& APMInternalEventNameMap() {
    static const std::map<std::string, std::string, std::less<>>& map =
        *new std::map<std::string, std::string, std::less<>>([] {
            std::map<std::string, std::string, std::less<>> inverse;
            for (const auto& [publicName, internalName] : APMPublicEventNameMap()) {
                // "_cmp" has two public names; the "razudizo_" one is never shown.
                if (!publicName.starts_with("razudizo_"))
                    inverse.emplace(internalName, publicName);
            }
            return inverse;
        }());  // lives for the process
    return map;
}

const std::map<std::string, std::string, std::less<>>& APMAllowedReservedEventNames() {
    static const std::map<std::string, std::string, std::less<>>& map =
        *new std::map<std::string, std::string, std::less<>>{
            {"ad_impression", "_ai"}};  // lives for the process
    return map;
}

bool APMIsPublicName(std::string_view name) {
    if (name.empty()) {
        APMMonitor::shared().logWithLevel(2, 18003, "Cannot check the name. Name is empty");
        return false;
    }
    return name.front() != '_';
}
