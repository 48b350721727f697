// Plays the player's part in the sample movies for scripts/demo, the way the
// demo's movie scripts do on the headless screens, but on the pages a player
// sees and at a pace a person can follow: before each step it waits the
// pause (in milliseconds) that the demo wrote into "demo-pace.txt" in the
// application directory, 1500 when there is none. Needs hear.js before it.
"use strict";

(() => {
  const pace = fetch("/demo-pace.txt", { cache: "no-store" })
    .then((answer) => (answer.ok ? answer.text() : ""))
    .then((text) => (/^\d+\s*$/.test(text) ? Number(text) : 1500))
    .catch(() => 1500);
  const pause = async (times = 1) => {
    const ms = await pace;
    await new Promise((resolve) => setTimeout(resolve, ms * times));
  };

  const hear = Heard.hear;
  const startsWith = (prefix) => (line) => line.startsWith(prefix);
  const click = (id) => document.getElementById(id).click();

  // A progress screen moves on by itself; a failure is tried twice more,
  // then the player leaves.
  const progressScreen = async () => {
    for (let failures = 1; ; ++failures) {
      await hear(startsWith("Err="), Heard.count());
      await pause();
      if (failures > 2) return click("exit");
      click("retry");
    }
  };

  const steps = {
    "checkUpdate.html": progressScreen,
    "transfer.html": progressScreen,
    "login.html": async () => {
      await pause();
      document.getElementById("user").value = "demo";
      document.getElementById("password").value = "demo";
      await pause();
      click("login");
      // A refused login or a lost line ends the run.
      await hear(startsWith("Err="));
      await pause();
      click("exit");
    },
    "index.html": async () => {
      // A secondary lobby only shows what it was opened with.
      if (await Promise.race([hear(startsWith("game_status==")), hear(startsWith("status206=="))])
        .then((line) => line.startsWith("status206=="))) return;
      await pause();
      document.querySelector("#games button").click();
      await hear((line) => /^game_(rng)?install==/.test(line));
      await pause();
      click("cashier");
      await pause(2);
      click("exit");
    },
    "errorMsg.html": async () => {
      await hear(startsWith("Err="));
      await pause();
      click("ok");
    },
  };
  const step = steps[location.pathname.split("/").pop()];
  if (step) addEventListener("load", () => step());
})();
