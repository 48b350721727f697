// What the sample movies share: the player's language, the launcher's lines,
// and the texts of every code in both languages. A movie sets Movie.texts
// with its own words and Movie.onLine to hear each line; Movie.show() is
// called again whenever the language changes.
"use strict";

const Movie = {
  language: "en",
  texts: { en: {}, de: {} },
  common: {
    en: {
      "Err=401": "A download failed. Check your connection and try again.",
      "Err=402": "No Internet connection.",
      "Err=403": "The server sent an answer that could not be read.",
      "Err=404": "Wrong user name or password.",
      "Err=405": "Please wait until the current installation has finished.",
      "Err=406": "The launcher is already running.",
      ok: "OK", retry: "Retry", exit: "Exit",
    },
    de: {
      "Err=401": "Ein Download ist fehlgeschlagen. Bitte Verbindung prüfen und erneut versuchen.",
      "Err=402": "Keine Internetverbindung.",
      "Err=403": "Die Antwort des Servers war nicht lesbar.",
      "Err=404": "Benutzername oder Passwort ist falsch.",
      "Err=405": "Bitte warten, bis die laufende Installation fertig ist.",
      "Err=406": "Der Launcher läuft bereits.",
      ok: "OK", retry: "Wiederholen", exit: "Beenden",
    },
  },
  onLine: null,
  show: null,
  // The word for key in the player's language (English when there is none).
  t(key) {
    const pick = (language) => (Movie.texts[language] ?? {})[key] ?? (Movie.common[language] ?? {})[key];
    return pick(Movie.language) ?? pick("en") ?? key;
  },
  // A progress line: item index, item count, package kind, language.
  progress(line) {
    const [index, count, kind] = line.split(",");
    const done = Number(index), all = Number(count);
    if (!(all > 0)) return null;
    return { share: Math.min(1, Math.max(0, done / all)), done, all, kind: kind ?? "" };
  },
  element(id) { return document.getElementById(id); },
  // Draws a bar inside the element with the given id.
  bar(id, share) { Movie.element(id).style.width = Math.round(share * 100) + "%"; },
};

// Every line the launcher sends arrives here.
function addText(text) {
  const line = String(text);
  if (line.startsWith("lang=")) {
    Movie.language = line.slice(5) || "en";
    document.documentElement.lang = Movie.language;
    if (Movie.show) Movie.show();
  }
  if (Movie.onLine) Movie.onLine(line);
}
