#include "operator/script_movie_page.hpp"

#include "server/request_channel.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kHead = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<style>
  body { font: 14px sans-serif; margin: 8px; background: #13202e; color: #e8eef4; }
  h1 { font-size: 16px; margin: 0 0 6px; }
  ol { margin: 0; padding-left: 1.6em; font: 12px monospace; overflow-wrap: anywhere; }
  .sent { color: #8fd0ff; }
  .skipped { color: #ffb070; }
</style>
</head>
<body>
<h1>)html";

// Plays the rules of the script in #script: text and prefix triggers (with
// an optional #N for the N-th such text), after triggers, and command and
// call actions. What a received text sets off goes out after addText has
// returned, as a player's events would.
constexpr std::string_view kPlayer = R"html(
<script>
"use strict";
const log = (text, kind) => {
  const list = document.getElementById("log");
  const item = document.createElement("li");
  item.textContent = text.length > 160 ? text.slice(0, 160) + "…" : text;
  if (kind) item.className = kind;
  list.append(item);
  while (list.children.length > 40) list.firstElementChild.remove();
};
const words = (line) => {
  const out = [];
  for (let i = 0; i < line.length;) {
    if (line[i] === " " || line[i] === "\t") { i++; continue; }
    if (line[i] !== '"') {
      let end = i;
      while (end < line.length && line[end] !== " " && line[end] !== "\t") end++;
      out.push({ word: line.slice(i, end), quoted: false });
      i = end;
      continue;
    }
    let word = "";
    for (i++; i < line.length && line[i] !== '"'; i++) {
      if (line[i] === "\\" && i + 1 < line.length) {
        const c = line[++i];
        word += c === "n" ? "\n" : c === "t" ? "\t" : c;
      } else {
        word += line[i];
      }
    }
    if (i >= line.length) return null;
    i++;
    out.push({ word, quoted: true });
  }
  return out;
};
const readRule = (line) => {
  const tokens = words(line);
  const arrow = tokens ? tokens.findIndex((t) => !t.quoted && t.word === "->") : -1;
  if (arrow < 0) return null;
  const trigger = tokens.slice(0, arrow).map((t) => t.word);
  const action = tokens.slice(arrow + 1).map((t) => t.word);
  const actionFits = (action[0] === "command" && action.length >= 2 && action.length <= 3) ||
    (action[0] === "call" && action.length >= 2);
  if (!actionFits) return null;
  if (trigger[0] === "after" && trigger.length === 2 && /^[0-9]+$/.test(trigger[1])) {
    return { after: Number(trigger[1]), action };
  }
  if (trigger[0] !== "text" && trigger[0] !== "prefix") return null;
  if (trigger.length === 2) return { kind: trigger[0], what: trigger[1], nth: 0, seen: 0, action };
  if (trigger.length === 3 && /^#[1-9][0-9]*$/.test(trigger[2])) {
    return { kind: trigger[0], what: trigger[1], nth: Number(trigger[2].slice(1)), seen: 0, action };
  }
  return null;
};
const perform = ([kind, name, ...rest]) => {
  log((kind === "command" ? "→ " : "→ call ") + [name, ...rest].join(" "), "sent");
  if (kind === "command") tarvel.fscommand(name, rest[0] ?? "");
  else tarvel.call(name, ...rest);
};
const rules = [];
document.getElementById("script").textContent.split("\n").forEach((line, index) => {
  if (line.trim() === "" || line.trim().startsWith("#")) return;
  const rule = readRule(line);
  if (rule) rules.push(rule);
  else log("script line " + (index + 1) + ": " + line + " (ignored)", "skipped");
});
function addText(text) {
  const line = String(text);
  log("← " + line);
  for (const rule of rules) {
    if (rule.after !== undefined) continue;
    const matches = rule.kind === "text" ? line === rule.what : line.startsWith(rule.what);
    if (!matches) continue;
    rule.seen++;
    if (rule.nth === 0 || rule.seen === rule.nth) setTimeout(() => perform(rule.action), 0);
  }
}
for (const rule of rules) {
  if (rule.after !== undefined) setTimeout(() => perform(rule.action), rule.after);
}
</script>
</body>
</html>
)html";

}  // namespace

std::string script_movie_page(std::string_view title, std::string_view script) {
  std::string page(kHead);
  page += xml_escape(title);
  page += "</h1>\n<ol id=\"log\"></ol>\n<pre id=\"script\" hidden>";
  page += xml_escape(script);
  page += "</pre>";
  page += kPlayer;
  return page;
}

}  // namespace tarvel
