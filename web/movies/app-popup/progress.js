// The progress screens (update check and game installation): a bar for the
// progress lines, the error for Err= lines with Retry and Exit.
"use strict";

function progressScreen(words) {
  document.body.innerHTML =
    '<h1 id="title"></h1><div class="track"><div class="fill" id="fill"></div></div>' +
    '<p id="count"></p><p id="error" class="error"></p>' +
    '<div class="buttons hidden" id="choices"><button id="retry"></button><button id="exit"></button></div>';
  Movie.texts = words;
  let error = "";
  let state = null;
  Movie.show = () => {
    Movie.element("title").textContent = Movie.t("title");
    Movie.element("retry").textContent = Movie.t("retry");
    Movie.element("exit").textContent = Movie.t("exit");
    Movie.element("error").textContent = error ? Movie.t(error) : "";
    Movie.element("choices").classList.toggle("hidden", !error);
    Movie.element("count").textContent = state ? state.done + " / " + state.all : "";
  };
  Movie.onLine = (line) => {
    if (line.startsWith("Err=")) {
      error = line;
    } else {
      const next = Movie.progress(line.startsWith("progress=") ? line.slice(9) : line);
      if (!next) return;
      state = next;
      error = "";
      Movie.bar("fill", state.share);
    }
    Movie.show();
  };
  Movie.element("retry").addEventListener("click", () => { error = ""; Movie.show(); tarvel.fscommand("retry", ""); });
  Movie.element("exit").addEventListener("click", () => tarvel.fscommand("exit", ""));
  Movie.show();
}
