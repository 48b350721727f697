// For the scripts that play the player's part on the sample movies (the
// demo's player, the desktop tests' driver): every line the launcher sends
// still reaches the movie, and Heard.hear(test, after) gives the first line,
// from the after-th on, that passes the test, one that came before the
// caller started waiting included. Load it after the movie's own scripts.
"use strict";

const Heard = (() => {
  const lines = [];
  const waiting = [];
  const movieAddText = window.addText;
  window.addText = (text) => {
    const line = String(text);
    lines.push(line);
    movieAddText(line);
    for (const w of waiting.filter((w) => w.test(line))) {
      waiting.splice(waiting.indexOf(w), 1);
      w.resolve(line);
    }
  };
  return {
    count: () => lines.length,
    hear: (test, after = 0) =>
      new Promise((resolve) => {
        const earlier = lines.slice(after).find(test);
        if (earlier !== undefined) resolve(earlier);
        else waiting.push({ test, resolve });
      }),
  };
})();
