# Sourced by the scripts: the one interpreter they build and test with. Debian's, where
# python3-pytest, setuptools and wheel live, whatever python3 comes first on the PATH;
# MORVEX_PYTHON overrides it.
MORVEX_PYTHON=${MORVEX_PYTHON:-/usr/bin/python3}
