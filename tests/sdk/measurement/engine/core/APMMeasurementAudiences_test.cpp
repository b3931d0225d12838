// The engine with audiences: a served configuration's audience is stored by the fetch, evaluated
// while events are bundled, and every uploaded bundle carries its result.
#include <sstream>

#include "tests/sdk/measurement/engine/core/UploadTestSupport.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"

namespace {

class AudiencesEngineTest : public sdktest::UploadTest {
  protected:
    // Serves a configuration whose audience 42 has one event filter (ID 1) on "scan_completed";
    // uploads get 204.
    void serveAudienceConfiguration() {
        const std::string config = messages_test::protoc(
            "--encode=apmpb.MeasurementConfig",
            std::string("app_id: \"") + kAppID +
                "\"\naudiences { audience_id: 42 event_filters { filter_id: 1 event_name: "
                "\"scan_completed\" } }\n");
        ASSERT_EQ(config.find("<protoc failed>"), std::string::npos) << config;
        respondWith([config](const httplib::Request& request, httplib::Response& response) {
            if (request.method == "GET") {
                response.set_content(config, "application/octet-stream");
            } else {
                response.status = 204;
            }
        });
    }

    // Uploads and answers the audience results of the batch that was posted.
    std::string uploadedAudienceResults() {
        const std::size_t before = requestsWithMethod("POST").size();
        onWorker([&] { engine_->uploadData(); });
        waitUntil([&] {
            return requestsWithMethod("POST").size() > before &&
                   !engine_->isNetworkRequestPending();
        });
        const auto posts = requestsWithMethod("POST");
        if (posts.size() <= before) {
            return "<nothing posted>";
        }
        const std::string batch =
            messages_test::protoc("--decode=apmpb.MeasurementBatch", posts.back().body);
        const std::size_t at = batch.find("audience_evaluation_results {");
        if (at == std::string::npos) {
            return "<no audience results> " + batch;
        }
        // The message's lines up to its closing brace, without their indentation.
        std::string text;
        int depth = 0;
        std::istringstream lines(batch.substr(at));
        for (std::string line; std::getline(lines, line);) {
            line.erase(0, line.find_first_not_of(' '));
            text += line + "\n";
            depth += line.ends_with("{") ? 1 : line == "}" ? -1 : 0;
            if (depth == 0) {
                break;
            }
        }
        return text;
    }
};

TEST_F(AudiencesEngineTest, UploadedBundlesCarryTheResultsOfAServedAudience) {
    serveAudienceConfiguration();
    startConnected();
    logEvent("scan_completed");
    // The first upload fetches the expired configuration, then posts the bundle.
    const std::string first = uploadedAudienceResults();
    EXPECT_EQ(
        first,
        "audience_evaluation_results {\naudience_id: 42\ncurrent_data {\nstatus: 2\nresults: 2\n}\n"
        "new_audience: true\n}\n")
        << first;
    EXPECT_EQ(sqlite("SELECT audience_id, filter_id, event_name FROM event_filters;"),
              "42|1|scan_completed\n");

    logEvent("scan_started");
    const std::string second = uploadedAudienceResults();
    EXPECT_EQ(
        second,
        "audience_evaluation_results {\naudience_id: 42\ncurrent_data {\nstatus: 2\nresults: 2\n}\n"
        "new_audience: false\n}\n")
        << second;
}

}  // namespace
