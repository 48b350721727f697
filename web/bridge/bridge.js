// The bridge between a screen's movie page and the launcher, put into every
// movie page before its own scripts run.
//
// Out, to the launcher:
//   tarvel.fscommand(command, args)  the movie's command channel
//   tarvel.call(name, ...args)       an external-interface call; the launcher
//                                    receives it as the player's request XML
// In, from the launcher:
//   the launcher calls the movie's functions by name (addText(text) for every
//   line it sends) once the movie is ready. An HTML5 movie is ready when its
//   page has loaded, or, if its <html> element has the attribute
//   data-tarvel-manual, when it calls tarvel.ready() itself.
(() => {
  "use strict";
  if (window.tarvel) return;
  const channel = window.webkit.messageHandlers.tarvel;
  const post = (message) => channel.postMessage(message);
  // Strings go in as XML text, as the player writes them.
  const xmlText = (value) =>
    String(value).replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;");
  const request = (name, args) =>
    '<invoke name="' + String(name) + '" returntype="xml"><arguments>' +
    args.map((a) => "<string>" + xmlText(a) + "</string>").join("") +
    "</arguments></invoke>";

  let target = window;
  let ready = false;
  const tarvel = {
    fscommand(command, args) {
      post({ kind: "command", command: String(command ?? ""), args: String(args ?? "") });
    },
    call(name, ...args) {
      post({ kind: "call", request: request(name, args.map((a) => String(a ?? ""))) });
    },
    // where: the object that holds the movie's functions (the page itself
    // for an HTML5 movie).
    ready(where) {
      target = where ?? window;
      if (ready) return;
      ready = true;
      post({ kind: "ready" });
    },
    deliver(name, args) {
      const fn = target[name];
      if (typeof fn !== "function") return "";
      const answer = fn.apply(target, args);
      return answer === undefined || answer === null ? "" : String(answer);
    },
  };
  Object.defineProperty(window, "tarvel", { value: Object.freeze(tarvel) });
  window.addEventListener("load", () => {
    if (!document.documentElement.hasAttribute("data-tarvel-manual")) tarvel.ready(window);
  });
})();
