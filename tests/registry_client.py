"""The shared borrow registry as another NumPy-using extension module sees it:
a capsule attribute of NumPy's multiarray module pointing at a 48-byte
header of a version, a state pointer and four C functions.  Used by the
tests both to call the registry that orven publishes and to publish a
registry of our own before orven looks for one."""

import ctypes
import importlib

import numpy

CAPSULE_NAME = b"_RUST_NUMPY_BORROW_CHECKING_API"
ATTRIBUTE = CAPSULE_NAME.decode()

# Calling into the registry: the operations expect the caller to hold the
# interpreter, so the PYFUNCTYPE flavour (which keeps it) is used.
_ACQUIRE_CALL = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
_RELEASE_CALL = ctypes.PYFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)
# Being called by orven: plain C callbacks.
_ACQUIRE_CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
_RELEASE_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)


class RegistryHeader(ctypes.Structure):
    _fields_ = [
        ("version", ctypes.c_uint64),
        ("flags", ctypes.c_void_p),
        ("acquire", ctypes.c_void_p),
        ("acquire_mut", ctypes.c_void_p),
        ("release", ctypes.c_void_p),
        ("release_mut", ctypes.c_void_p),
    ]


assert ctypes.sizeof(RegistryHeader) == 48

_capsule_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_capsule_get_pointer.restype = ctypes.c_void_p
_capsule_get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
_capsule_new = ctypes.pythonapi.PyCapsule_New
_capsule_new.restype = ctypes.py_object
_capsule_new.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
_capsule_get_name = ctypes.pythonapi.PyCapsule_GetName
_capsule_get_name.restype = ctypes.c_char_p
_capsule_get_name.argtypes = [ctypes.py_object]


def multiarray_module():
    core = "numpy._core" if int(numpy.__version__.split(".")[0]) >= 2 else "numpy.core"
    return importlib.import_module(core + ".multiarray")


def capsule_name(capsule):
    return _capsule_get_name(capsule)


class Registry:
    """Calls the operations of whatever registry the process publishes."""

    def __init__(self):
        self.capsule = getattr(multiarray_module(), ATTRIBUTE)
        pointer = _capsule_get_pointer(self.capsule, CAPSULE_NAME)
        self.header = RegistryHeader.from_address(pointer)
        self._acquire = _ACQUIRE_CALL(self.header.acquire)
        self._acquire_mut = _ACQUIRE_CALL(self.header.acquire_mut)
        self._release = _RELEASE_CALL(self.header.release)
        self._release_mut = _RELEASE_CALL(self.header.release_mut)

    def acquire(self, array):
        return self._acquire(self.header.flags, array)

    def acquire_mut(self, array):
        return self._acquire_mut(self.header.flags, array)

    def release(self, array):
        self._release(self.header.flags, array)

    def release_mut(self, array):
        self._release_mut(self.header.flags, array)

    def is_free(self, array):
        """No borrow of any view overlapping `array` is held: an exclusive
        borrow of it is granted (and given back at once)."""
        if self.acquire_mut(array) != 0:
            return False
        self.release_mut(array)
        return True


class FakeRegistry:
    """A registry published by "another module": it grants (or answers with
    `acquire_result`) and records every call orven makes."""

    def __init__(self, version=1, acquire_result=0, name=CAPSULE_NAME):
        self.calls = []

        def acquire(_flags, array):
            self.calls.append(("acquire", array))
            return acquire_result

        def acquire_mut(_flags, array):
            self.calls.append(("acquire_mut", array))
            return acquire_result

        def release(_flags, array):
            self.calls.append(("release", array))

        def release_mut(_flags, array):
            self.calls.append(("release_mut", array))

        self._functions = (
            _ACQUIRE_CALLBACK(acquire),
            _ACQUIRE_CALLBACK(acquire_mut),
            _RELEASE_CALLBACK(release),
            _RELEASE_CALLBACK(release_mut),
        )
        addresses = [ctypes.cast(function, ctypes.c_void_p).value for function in self._functions]
        self.header = RegistryHeader(version, None, *addresses)
        self._name = ctypes.create_string_buffer(name)
        self.capsule = _capsule_new(ctypes.addressof(self.header), ctypes.addressof(self._name), None)

    def publish(self):
        setattr(multiarray_module(), ATTRIBUTE, self.capsule)
