#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/server_request.hpp"

namespace tarvel {

class App;

// Files the login leaves behind for the movies, relative to the application
// directory.
inline constexpr const char* kResponseCopyName = "response.xml";
inline constexpr const char* kLoginErrorFolder = "XMLFile";
inline constexpr const char* kLoginErrorText = "&result=invaild user&";
// Index of the token that holds the login's result value.
inline constexpr std::size_t kResultTokenIndex = 14;

// Posts the user name and password of the settings record as a
// "registration" request and analyses the answer: its tokens go into the
// request record, a copy of it into "response.xml"; a short answer leaves the
// login error file, an answer with result 0 sets the login properties
// document. True when the exchange completed and the analysis ran to its end;
// whether the login itself succeeded is read from the tokens.
[[nodiscard]] bool send_login_request(App& app, ServerRequest& request);

// The registration request document, user name and password escaped.
[[nodiscard]] std::string login_request_text(std::string_view user_name, std::string_view password);

// The first piece of the result token cut at "<", or nothing when the
// answer has no such token or the token is only "<" characters.
[[nodiscard]] std::optional<std::string> login_result_value(const ServerRequest& request);

// The application directory with every "\" doubled, as the lobby reads paths.
[[nodiscard]] std::string escape_backslashes(std::string_view directory);

// The address up to and including the "/" after its host, or "" when there
// is none ("http://host/path" gives "http://host/").
[[nodiscard]] std::string server_root(std::string_view address);

// The language's installation path from the language list text: from the
// first line holding the code in double quotes, the lang="..." value; "" when
// no line names the code or the line has no ">". Nothing when that line ends
// right after "lang": the list is broken, and the login's analysis fails.
[[nodiscard]] std::optional<std::string> language_path_in(std::string_view list,
                                                          std::string_view code);

}  // namespace tarvel
