# The sample brand: the sample client that tarvel-stage --sample serves,
# packaged as an operator would package a brand. Its players reach a stage
# on this machine, at the address below (see the README's "Operators").

# The package, the command and each player's folder ($XDG_DATA_HOME/<id>).
set(BRAND_ID "tarvel-sample")
# Reverse-DNS name of the menu entry, the AppStream component and the icon.
set(BRAND_APP_ID "com.example.TarvelSample")
set(BRAND_NAME "Tarvel Sample Casino")
set(BRAND_SUMMARY "Play the sample casino's games")
# A paragraph, one line (under 80 characters) a string.
set(BRAND_DESCRIPTION
  "The sample casino of the Tarvel launcher. It keeps its games current from"
  "the operator's download server, logs you in and opens the lobby, where"
  "games are installed as you choose them. This brand reaches a stage on"
  "your own machine, for trying the launcher out.")
set(BRAND_DEVELOPER "The Tarvel sample operator")
set(BRAND_MAINTAINER "Tarvel sample operator <operator@example.com>")
set(BRAND_HOMEPAGE "https://www.example.com/")
set(BRAND_KEYWORDS "casino;slots;poker;blackjack;roulette;")

# The client a new player starts with: for this brand, the sample client
# written for a stage at this address (other brands ship a folder "client").
set(BRAND_SAMPLE_STAGE "http://127.0.0.1:47380/")
