# The Windows build (windows/): `make windows` cross-builds the 32-bit
# kkmbridge.exe and its unit tests with mingw-w64 into build-windows/i686/
# (dependencies built from Debian's source packages and cached under
# build-windows/); `make windows-test` runs that 32-bit build under 32-bit
# Wine (natively, or through qemu-i386 on a kernel without 32-bit support),
# the unit tests and then the end-to-end scenarios against the Linux build.
# windows/README.md says what each installs and how long it takes.

WINDOWS_JOBS ?= 2
# auto: native 32-bit when the kernel runs it, else qemu-i386; native or
# qemu: that way or fail.
WINDOWS_I386 ?= auto
# 1: also test the 64-bit build under 64-bit Wine, after the 32-bit one.
WINDOWS_TEST_X86_64 ?= 0

.PHONY: windows windows-test windows-clean

windows:
	windows/build.sh i686 $(WINDOWS_JOBS)

windows-test: build windows
	WINDOWS_I386=$(WINDOWS_I386) WINDOWS_TEST_X86_64=$(WINDOWS_TEST_X86_64) windows/test.sh $(WINDOWS_JOBS)

windows-clean:
	rm -rf build-windows
