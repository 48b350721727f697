#include "platform/curl/curl_http_post.hpp"

#include <gtest/gtest.h>

#include "tests/support/request_service_double.hpp"

namespace tarvel {
namespace {

using testing::RefusingAddress;
using testing::RequestServiceDouble;

TEST(CurlHttpPost, SendsTheBodyAsItIsAndAddsNoContentHeaders) {
  RequestServiceDouble service;
  service.answer({200, "<response/>", {}});
  // Long enough that libcurl would otherwise ask for an interim answer first.
  std::string body = "<?xml version='1.0'?><request>";
  body += std::string(3000, 'x') + std::string("\0\xFF\r\n", 4) + "</request>";
  CurlHttpPost http;

  EXPECT_EQ(http.post(service.address(), body), "<response/>");

  const auto received = service.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].path, "/request");
  EXPECT_EQ(received[0].body, body);
  EXPECT_EQ(received[0].headers.count("Content-Type"), 0u);
  EXPECT_EQ(received[0].headers.count("Expect"), 0u);
}

TEST(CurlHttpPost, AnyStatusWithItsBodyIsACompletedExchange) {
  RequestServiceDouble service;
  CurlHttpPost http;
  service.answer({500, "server error page", {}});
  EXPECT_EQ(http.post(service.address(), "a"), "server error page");
  service.answer({404, "", {}});
  EXPECT_EQ(http.post(service.address(), "b"), "");
  service.answer({200, "", {}});
  EXPECT_EQ(http.post(service.address(), ""), "");
  EXPECT_EQ(service.received().size(), 3u);
}

TEST(CurlHttpPost, AddressesOtherThanHttpAreRefusedWithoutContact) {
  RequestServiceDouble service;
  CurlHttpPost http;
  const std::string host_and_port = service.address("").substr(std::string("http://").size());
  EXPECT_EQ(http.post("not found", "a"), std::nullopt);
  EXPECT_EQ(http.post("", "a"), std::nullopt);
  EXPECT_EQ(http.post("ftp://" + host_and_port + "/x", "a"), std::nullopt);
  EXPECT_EQ(http.post("file:///etc/hostname", "a"), std::nullopt);
  EXPECT_EQ(http.post(host_and_port + "/request", "a"), std::nullopt) << "no scheme guessed";
  EXPECT_TRUE(service.received().empty());
  EXPECT_EQ(http.post("HTTP://" + host_and_port + "/request", "a"), "");
}

TEST(CurlHttpPost, UnreachableServiceFails) {
  RefusingAddress nowhere;
  CurlHttpPost http;
  EXPECT_EQ(http.post(nowhere.address(), "a"), std::nullopt);
}

TEST(CurlHttpPost, AServiceThatNeverAnswersIsGivenUpOn) {
  RequestServiceDouble service;
  service.hold();
  CurlHttpPost http({std::chrono::milliseconds(30'000), std::chrono::milliseconds(200)});
  EXPECT_EQ(http.post(service.address(), "a"), std::nullopt);
  service.release();
}

TEST(CurlHttpPost, RedirectsAreFollowed) {
  RequestServiceDouble service;
  service.answer("/old", {307, "", {{"Location", service.address("/new")}}});
  service.answer("/new", {200, "moved answer", {}});
  CurlHttpPost http;
  EXPECT_EQ(http.post(service.address("/old"), "body"), "moved answer");
  const auto received = service.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].path, "/new");
  EXPECT_EQ(received[1].body, "body");
}

TEST(CurlHttpPost, AnOversizedAnswerFails) {
  RequestServiceDouble service;
  service.answer({200, std::string(64, 'x'), {}});
  CurlHttpPost::Limits limits;
  limits.max_body_bytes = 63;
  CurlHttpPost http(limits);
  EXPECT_EQ(http.post(service.address(), "a"), std::nullopt);
  limits.max_body_bytes = 64;
  CurlHttpPost roomy(limits);
  EXPECT_EQ(roomy.post(service.address(), "a"), std::string(64, 'x'));
}

}  // namespace
}  // namespace tarvel
