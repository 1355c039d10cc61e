"""The runtime the launcher makes sure of, as the tests, the demo and the benchmark spell it: once,
here, and never taken from the product's own constant, so that a wrong constant there shows."""

DISPLAY_NAME = "Microsoft Visual C++ 2015-2022 Redistributable (x86) - 14.34.31931"
VERSION = DISPLAY_NAME.rsplit(" ", 1)[1]
INSTALLER = "vc_redist.x86.exe"
PARAMETERS = "/install /passive /norestart"
# SHA-256 of Microsoft's VC_redist.x86.exe of that build, as Microsoft publishes it: the one file
# the shipped launcher starts.
INSTALLER_SHA256 = bytes.fromhex("CE4843A946EE3732EB2BFC098DB5741DC5495C7BEA204E11D379336DCC68E875")
