#!/usr/bin/env python3
"""Seeds for the simulated devices' description: the program's own default system
(resources/SimDevices.json) and variants of it that reach the reader's other branches."""
import copy
import json
import pathlib
import sys

out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
root = pathlib.Path(__file__).resolve().parents[3]
base = json.loads((root / "resources" / "SimDevices.json").read_text())


def seed(name, doc):
    text = doc if isinstance(doc, str) else json.dumps(doc, separators=(",", ":"))
    (out / f"{name}.json").write_text(text)


seed("default", base)
card = base["cards"][0]

one = {"cards": [copy.deepcopy(card)]}
seed("one-card", one)

silent = copy.deepcopy(one)
c = silent["cards"][0]
c["signal"] = {"kind": "silence"}
c["waveOut"] = False
c["waveIn"] = {"channels": 1, "formats": 1}
c["driverVersion"] = 1280
seed("silent-mono-no-output", silent)

wave = copy.deepcopy(one)
wave["cards"][0]["signal"] = {"kind": "wave", "file": "missing.wav", "amplitude": 2}
wave["waveMapper"] = False
seed("wave-signal-no-mapper", wave)

mixer_list = copy.deepcopy(one)
rec = mixer_list["cards"][0]["mixer"][1]
rec["controls"] = ["Mixer", "Volume", "Mute"]
rec["selected"] = "Line In"
rec["volume"] = "0xFFFF"
seed("mixer-list", mixer_list)

bare = {"cards": [{"name": "Bare", "mixer": [{"type": "Speakers"}]}]}
seed("bare", bare)
seed("no-mixer", {"cards": [{"name": "No mixer", "manufacturerId": "7", "productId": 65535}]})
seed("empty", {})
seed("bad-type", {"cards": [{"name": "X", "mixer": [{"type": "Microphone"}]}]})
seed("bad-number", {"cards": [{"name": "X", "productId": 1.5}]})
seed("truncated", json.dumps(base)[:200])
