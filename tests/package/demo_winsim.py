#!/usr/bin/env python3
"""The main job without Wine: the sample package's InstallExecuteSequence run by
viduzo-run in winsim, on a machine that holds the same earlier client as the
Wine demo (qvacycle.py), with the same public properties.

  demo_winsim.py --tool build/demo-winsim/viduzo-run --msi qvaclient-MSI_ALL.msi
                 --work build/demo-winsim/run [PROPERTY=value ...]

scripts/demo --engine winsim builds everything first and runs this.
"""

import argparse
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qvacycle as q  # noqa: E402
from demo import DEFAULT_PROPS  # noqa: E402


def earlier_installation():
    """Scenario lines for what plant_earlier_installation puts into a Wine
    prefix, and the shortcut file types a Windows machine has after setup."""
    lines = ["# The earlier client, as the Wine demo plants it"]
    for rel in q.OLD_CLIENT_FILES:
        lines.append("line %s%s=QVA Client 8: %s" % (q.OLD_CLIENT, rel, rel))
    for rel in q.OLD_KEYSTORE_FILES:
        lines.append("line %s%s=keystore entry %s" % (q.OLD_KEYSTORE, rel, rel))
    lines.append("line %sHOSTCFG.INI=[ZNClient]" % q.CLIENT_DIR)
    lines += ["line %sHOSTCFG.INI=%s=%s" % (q.CLIENT_DIR, k, v) for k, v in q.CONFIG.items()]
    lines.append("line %scache.dat=cached bitmaps" % q.CONFIG_CACHE)
    lines += ["line C:\\ZNCNAME.INI=[ZNClient]",
              "line C:\\ZNCNAME.INI=ClientName=%s" % q.EARLIER_CLIENT_NAME,
              "line %s=[Launchers]" % q.TAGS_INI, "line %s=Tags=%s" % (q.TAGS_INI, q.TAGS_PLANTED)]
    key = "HKLM\\SOFTWARE\\Velmar\\QVA Client 8"
    lines += ["registry %s|InstallDir=%s" % (key, q.OLD_CLIENT),
              "registry %s|KeystoreDir=%s" % (key, q.OLD_KEYSTORE),
              "registry %s|Version=8.4.2" % key,
              "registry HKCR\\.lnk|=lnkfile",
              "registry HKCR\\lnkfile|=Shortcut",
              "registry HKCR\\lnkfile|IsShortcut="]
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--msi", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("props", nargs="*")
    args = parser.parse_args()
    work = Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    scenario = work / "earlier-installation.scenario"
    scenario.write_text("\n".join(earlier_installation() +
                                  ["sequence InstallExecuteSequence"]) + "\n")
    props = args.props or DEFAULT_PROPS
    print("The sample package's InstallExecuteSequence, run by viduzo-run in winsim (no Wine);")
    print("the machine holds the earlier client of the Wine demo (scenario: %s)." % scenario)
    print("msiexec /i %s /qn %s" % (Path(args.msi).name, " ".join(props)))
    print()
    sys.stdout.flush()
    return subprocess.call([args.tool, args.msi, "--scenario", str(scenario)] + props)


if __name__ == "__main__":
    sys.exit(main())
