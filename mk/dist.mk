# The Windows release (windows/dist.sh): `make dist` builds
# build-windows/kkmbridge-VERSION-win32.zip and checks its content.

.PHONY: dist

dist: windows
	windows/dist.sh
