"""Builds quv3's extension module: the binding and the decoder's own sources in
one shared object, so the installed package needs no quv3 library at run time.

The decoder's source list and the per-file instruction-set options are read
from the repository's decoder/CMakeLists.txt (QUV3_SOURCES and its
set_source_files_properties lines), so the extension is built from the same
files with the same options as the C library. The package is built from a
checkout of the repository: pip install ./python
"""

import os
import platform
import re
import shutil
import subprocess
import sysconfig
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent

# The options every decoder file is built with, as CMakeLists.txt gives them:
# no contraction into fused multiply-adds (every kernel level gives the plain
# level's samples), no exceptions, and the Release optimisation. Python's own
# compile options come first and are undone where they differ from the C
# library's: -fwrapv and the stack protector cost the decoder 6 to 7 % of its
# time.
DECODER_FLAGS = ["-std=c++20", "-ffp-contract=off", "-fno-exceptions", "-fno-rtti", "-fvisibility=hidden",
                 "-O3", "-DNDEBUG", "-g0", "-Wall", "-Wextra", "-fno-wrapv", "-fno-stack-protector"]
BINDING_FLAGS = ["-ffp-contract=off", "-O3", "-DNDEBUG"]


def cmake_text(folder=""):
    path = ROOT / folder / "CMakeLists.txt"
    if not (ROOT / "decoder" / "api" / "quv3_decoder.h").is_file() or not path.is_file():
        raise SystemExit("quv3: the decoder's sources are not next to python/: build from a checkout of the repository")
    return path.read_text()


def project_version():
    return re.search(r"^project\(quv3 VERSION ([0-9.]+)", cmake_text(), re.M).group(1)


def compiler_is_gnu(compiler):
    try:
        out = subprocess.run(compiler.compiler_so[:1] + ["--version"], capture_output=True, text=True).stdout
    except OSError:
        return False
    return "Free Software Foundation" in out


def decoder_sources(gnu):
    """[(path, extra options)] of the re-entrant library for this machine."""
    text = cmake_text("decoder")
    block = re.search(r"set\(QUV3_SOURCES\s+([^)]*)\)", text)
    appended = re.findall(r"list\(APPEND QUV3_SOURCES\s+([^)]*)\)", text)
    kernel_flags = re.search(r'set\(QUV3_KERNEL_FLAGS "([^"]*)"\)', text)
    if not block or not appended or not kernel_flags:
        raise SystemExit("quv3: decoder/CMakeLists.txt no longer lists QUV3_SOURCES as setup.py reads it")
    # The kernel options are GCC's only: "$<$<CXX_COMPILER_ID:GNU>:...>".
    gnu_only = re.fullmatch(r"\$<\$<CXX_COMPILER_ID:GNU>:([^>]*)>", kernel_flags.group(1))
    kernel = (gnu_only.group(1).split(";") if gnu else []) if gnu_only else kernel_flags.group(1).split(";")
    options = {}
    for name, opts in re.findall(r'set_source_files_properties\((\S+) PROPERTIES COMPILE_OPTIONS "([^"]*)"\)', text):
        flags = []
        for o in opts.split(";"):
            flags += kernel if o == "${QUV3_KERNEL_FLAGS}" else [o]
        options[name] = [f for f in flags if f]

    machine = platform.machine().lower()
    x86 = re.fullmatch(r"x86_64|amd64|i[3-6]86", machine) is not None
    arm = machine in ("aarch64", "arm64")
    windows = os.name == "nt"

    def wanted(name):
        base = os.path.basename(name)
        if base in ("kernels_sse2.cpp", "kernels_avx2.cpp", "kernels_avx512.cpp"):
            return x86
        if base == "kernels_neon.cpp":
            return arm
        if base == "file_io_win32.cpp":
            return windows
        if base == "file_io_posix.cpp":
            return not windows
        return True

    names = block.group(1).split()
    for group in appended:
        names += [n for n in group.split() if wanted(n)]
    names.append("api/quv3_decoder.cpp")
    return [(str(ROOT / "decoder" / n), options.get(n, [])) for n in names]


def decoder_files():
    """Every decoder source and header: a change to any rebuilds the extension."""
    return sorted(str(p) for p in (ROOT / "decoder").rglob("*") if p.suffix in (".cpp", ".h")) + \
        [str(ROOT / "CMakeLists.txt"), str(ROOT / "decoder" / "CMakeLists.txt")]


def soxr_available():
    """libsoxr's header: resampling is built in where it is (the library itself is loaded when used)."""
    if os.environ.get("QUV3_NO_SOXR"):
        return False
    if shutil.which("pkg-config"):
        if subprocess.run(["pkg-config", "--exists", "soxr"]).returncode == 0:
            return True
    include = sysconfig.get_config_var("INCLUDEDIR") or "/usr/include"
    return any(Path(d, "soxr.h").is_file() for d in (include, "/usr/include", "/usr/local/include"))


class BuildWithDecoder(build_ext):
    """Compiles the decoder's files (each with its own options, in parallel)
    and links their objects into the extension."""

    def build_extension(self, ext):
        gnu = compiler_is_gnu(self.compiler)
        sources = decoder_sources(gnu)
        out_dir = Path(self.build_temp, "decoder")
        jobs = max(1, int(os.environ.get("QUV3_BUILD_JOBS", os.cpu_count() or 1)))

        def compile_one(item):
            path, extra = item
            return self.compiler.compile([path], output_dir=str(out_dir), include_dirs=[str(ROOT)],
                                         extra_postargs=DECODER_FLAGS + extra)[0]

        for path, _ in sources:  # the object folders, made before the threads race for them
            obj = self.compiler.object_filenames([path], output_dir=str(out_dir))[0]
            os.makedirs(os.path.dirname(obj), exist_ok=True)
        with ThreadPoolExecutor(jobs) as pool:
            ext.extra_objects = list(pool.map(compile_one, sources))
        if soxr_available():
            ext.define_macros.append(("QUV3_PY_SOXR", "1"))
            if os.name != "nt":
                ext.libraries.append("dl")
        super().build_extension(ext)


setup(
    version=project_version(),
    ext_modules=[
        Pybind11Extension(
            "quv3._quv3",
            ["src/binding.cpp"],
            include_dirs=[str(ROOT / "decoder" / "api")],
            define_macros=[("QUV3_DECODER_STATIC", "1")],
            extra_compile_args=BINDING_FLAGS,
            depends=decoder_files(),
            libraries=["m"] if os.name != "nt" else [],
            cxx_std=20,
        )
    ],
    cmdclass={"build_ext": BuildWithDecoder},
)
