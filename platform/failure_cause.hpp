#pragma once

#include <string>

namespace tarvel {

// Why an exchange or a file operation failed, as the system reported it.
// The platform fills in what it knows; the logic decides the words the
// player and the support log get (core/failure_words.hpp).
struct FailureCause {
  enum class Kind {
    none,                // no failure, or none known
    status,              // the server answered with an unwanted HTTP status
    name_not_resolved,   // the host's name does not resolve
    connection_refused,  // nothing listens at the address
    timed_out,           // no connection, or no data, in time
    connection_broken,   // the connection closed or broke off early
    not_http,            // what answered does not speak HTTP
    secure_connection,   // the TLS handshake or the certificate failed
    unexpected_body,     // the body is not the one its sums describe
    too_large,           // the body is larger than the caller takes
    local_file,          // the local file could not be written or put in place
    proxy,               // the proxy refused the exchange
    not_web_address,     // the address is not an http:// or https:// one
    other,               // anything else; detail has the library's words
  };
  Kind kind = Kind::none;
  long status = 0;        // status (and proxy): the HTTP status
  int error_number = 0;   // local_file: the system's error number, 0 when unknown
  std::string path{};     // local_file: the file, in the system's own form
  std::string detail{};   // the library's own words (curl's code and text), for the log

  bool operator==(const FailureCause&) const = default;
};

}  // namespace tarvel
