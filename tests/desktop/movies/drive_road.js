// Plays the player's part in the sample movies along the whole road, one
// screen at a time. Each step waits for the test's go-ahead: the file
// "go/<step>" in the application directory, which the test writes once it
// has looked at the screen. Needs web/demo/hear.js before it.
"use strict";

(() => {
  const goAhead = async (step) => {
    for (;;) {
      try {
        if ((await fetch("/go/" + step, { cache: "no-store" })).ok) return;
      } catch (missing) {
        // not yet
      }
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
  };

  const hear = Heard.hear;
  const click = (id) => document.getElementById(id).click();
  const startsWith = (prefix) => (line) => line.startsWith(prefix);

  const steps = {
    "login.html": async () => {
      await goAhead("login");
      document.getElementById("user").value = "player";
      document.getElementById("password").value = "secret";
      click("login");
    },
    "index.html": async () => {
      await hear(startsWith("game_status=="));
      await goAhead("lobby");
      document.querySelector("#games button").click();
      // While the game installs, a second request is refused.
      await goAhead("busy");
      tarvel.fscommand("rnggame_poker", "");
      await hear((line) => /^game_(rng)?install==/.test(line));
      await goAhead("cashier");
      click("cashier");
      await goAhead("exit");
      click("exit");
    },
    "errorMsg.html": async () => {
      await hear(startsWith("Err="));
      await goAhead("error");
      click("ok");
    },
  };
  const step = steps[location.pathname.split("/").pop()];
  if (step) addEventListener("load", () => step());
})();
