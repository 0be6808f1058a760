# The Windows build (windows/): `make windows` cross-builds the 32-bit
# kkmbridge.exe and its unit tests with mingw-w64 into build-windows/i686/
# (dependencies built from Debian's source packages and cached under
# build-windows/); `make windows-test` runs them under Wine, then the
# end-to-end scenarios against the Linux build. windows-test installs Wine
# (and the i386 architecture), so it stays out of CI.

WINDOWS_JOBS ?= 2

.PHONY: windows windows-test windows-clean

windows:
	windows/build.sh i686 $(WINDOWS_JOBS)

windows-test: build windows
	windows/test.sh $(WINDOWS_JOBS)

windows-clean:
	rm -rf build-windows
