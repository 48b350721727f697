#include "server/login_request.hpp"

#include "core/app.hpp"
#include "core/settings_readers.hpp"
#include "server/cut_at.hpp"
#include "server/request_channel.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kRequestHead =
    "<?xml version='1.0'?><request action = \"registration\"><element id=\"id001\">"
    "<properties name=\"username\">";
constexpr std::string_view kRequestPassword = "</properties><properties name=\"password\">";
constexpr std::string_view kRequestTail =
    "</properties><properties name=\"interfaceid\">7</properties></element></request>";

constexpr std::string_view kDocumentHead = "<![CDATA[<request><properties name =\"TicketID\">";
constexpr std::string_view kAppPathOpen = "<properties name=\"App_Path\">";
constexpr std::string_view kServerNameOpen = "<properties name=\"server_name\">";
constexpr std::string_view kLangSelectedOpen = "<properties name=\"langselected\">";
constexpr std::string_view kLangPathOpen = "<properties name=\"lang_Path\">";
constexpr std::string_view kLangPathTail = "\\\\";
constexpr std::string_view kDocumentTail = "</request>]]>";

constexpr std::string_view kTokenDelimiter = ">";
constexpr std::string_view kResultDelimiter = "<";
constexpr std::string_view kLangWord = "lang";
// Past "lang", "=" and the opening quote.
constexpr std::size_t kLangValueOffset = 6;

// The answer up to its first zero unit, one byte per unit, cut at ">".
std::vector<std::string> response_tokens(const WideText& response) {
  const std::u16string_view text(response);
  return cut_at(narrow(text.substr(0, text.find(u'\0'))), kTokenDelimiter);
}

// One tag, or one text and its closing tag, per line. The movies read the
// copy with CR LF line breaks, line breaks inside tokens included.
std::string response_copy(const std::vector<std::string>& tokens) {
  std::string copy;
  for (const std::string& token : tokens) {
    if (token.empty() || token == "\n") continue;
    for (char c : token) {
      if (c == '\n') copy += '\r';
      copy += c;
    }
    copy += ">\r\n";
  }
  return copy;
}

void write_login_error_file(App& app) {
  const SettingsValues v = app.settings().snapshot();
  const std::string path = v.application_directory + kLoginErrorFolder + "\\" + v.error_file_name;
  app.files().remove_file(path);
  (void)app.files().write(path, kLoginErrorText);
}

// The line after the first one that names the ticket ("" when that one is
// the last), or nothing when no line names it.
std::optional<std::string> ticket_line(std::string_view copy) {
  const auto lines = text_lines(copy);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(kTicketWord) == std::string_view::npos) continue;
    return i + 1 < lines.size() ? std::string(lines[i + 1]) : std::string();
  }
  return std::nullopt;
}

std::string login_properties_document(std::string_view ticket, const SettingsValues& v,
                                      std::string_view root, std::string_view language_path) {
  const bool has_identifier = ticket.find(kPropertiesClose) != std::string_view::npos;
  const std::string app_path = escape_backslashes(v.application_directory);
  std::string document(kDocumentHead);
  document.append(has_identifier ? ticket : std::string_view());
  document.append(kAppPathOpen).append(app_path).append(kPropertiesClose);
  document.append(kServerNameOpen).append(root).append(kPropertiesClose);
  document.append(kLangSelectedOpen).append(v.selected_language).append(kPropertiesClose);
  document.append(kLangPathOpen).append(app_path).append(language_path);
  document.append(kLangPathTail).append(kPropertiesClose).append(kDocumentTail);
  return document;
}

// Takes the ticket from the copy just made and sets the document. The copy
// in memory, not the file: a file that could not be replaced would still
// hold an earlier login's ticket. False when the language list is broken.
bool build_login_properties(App& app, ServerRequest& request, std::string_view copy) {
  (void)app.files().create_directory(kLoginErrorFolder);
  const auto ticket = ticket_line(copy);
  if (!ticket) return true;
  // The ticket logs the player in: it goes nowhere but to the lobby.
  app.log().keep_secret(ticket->substr(0, ticket->find(kPropertiesClose)));
  const SettingsValues v = app.settings().snapshot();
  const std::string root = server_root(read_config_value(app, kServerUrlName));
  const auto list = app.files().read(v.application_directory + kLanguageFileName);
  const auto language = language_path_in(list.value_or(""), v.selected_language);
  if (!language) {
    app.log().cause(std::string(kLanguageFileName) + ": the entry of \"" + v.selected_language +
                    "\" ends right after lang, so the login cannot go on");
    return false;
  }
  request.language_path = *language;
  app.settings().set_login_properties(login_properties_document(*ticket, v, root, *language));
  return true;
}

bool analyse_response(App& app, ServerRequest& request) {
  std::vector<std::string> tokens = response_tokens(*request.response_text);
  const std::string copy = response_copy(tokens);
  request.tokens.insert(request.tokens.end(), tokens.begin(), tokens.end());
  (void)app.files().write(kResponseCopyName, copy);
  if (request.tokens.size() <= kResultTokenIndex) {
    app.log().cause(read_config_value(app, kServerUrlName) +
                    ": the answer is not the request service's XML");
    write_login_error_file(app);
    return true;
  }
  const auto result = login_result_value(request);
  if (!result || decimal_prefix(*result) != 0) {
    app.log().note("login of " + app.settings().user_name() + " refused: result \"" +
                   result.value_or("") + "\"");
    return true;
  }
  app.log().note("login of " + app.settings().user_name() + " accepted");
  return build_login_properties(app, request, copy);
}

}  // namespace

std::string login_request_text(std::string_view user_name, std::string_view password) {
  std::string text(kRequestHead);
  text.append(xml_escape(user_name)).append(kRequestPassword);
  text.append(xml_escape(password)).append(kRequestTail);
  return text;
}

std::optional<std::string> login_result_value(const ServerRequest& request) {
  if (request.tokens.size() <= kResultTokenIndex) return std::nullopt;
  auto pieces = cut_at(request.tokens[kResultTokenIndex], kResultDelimiter);
  if (pieces.empty()) return std::nullopt;
  return std::move(pieces.front());
}

std::string escape_backslashes(std::string_view directory) {
  std::string escaped;
  for (char c : directory) {
    escaped += c;
    if (c == '\\') escaped += c;
  }
  return escaped;
}

std::string server_root(std::string_view address) {
  const auto first = address.find('/');
  if (first == std::string_view::npos) return {};
  const auto second = address.find('/', first + 2);
  if (second == std::string_view::npos) return {};
  return std::string(address.substr(0, second + 1));
}

std::optional<std::string> language_path_in(std::string_view list, std::string_view code) {
  const std::string quoted = "\"" + std::string(code) + "\"";
  for (std::string_view line : text_lines(list)) {
    if (line.empty() || line.find(quoted) == std::string_view::npos) continue;
    const auto lang = line.find(kLangWord);
    const auto close = line.find('>');
    if (lang == std::string_view::npos || close == std::string_view::npos) return "";
    if (lang + kLangValueOffset > line.size()) return std::nullopt;
    auto pieces = cut_at(line.substr(lang + kLangValueOffset, close), kTokenDelimiter);
    if (pieces.empty()) return "";
    pieces.front().pop_back();  // the closing quote
    return std::move(pieces.front());
  }
  return "";
}

bool send_login_request(App& app, ServerRequest& request) {
  const std::string text =
      login_request_text(app.settings().user_name(), app.settings().password());
  auto response = post_request(app, text);
  if (!response) return false;
  request.response_text = std::move(*response);
  const bool analysed = analyse_response(app, request);
  request.response_text.reset();
  return analysed;
}

}  // namespace tarvel
