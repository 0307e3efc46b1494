# SPDX-License-Identifier: Apache-2.0
"""Optimization of a prescription: variables, operands, damped least squares.

An :class:`Optimizer` holds its own copy of a :class:`lumivex.Prescription`.
Variables name elements of ``p.system_at()`` by index; operands are measured
per field and wavelength (micrometres) of the prescription, with rays aimed
as the prescription aims them. The merit is the weighted sum of squares of
the operands' residuals; its Jacobian is exact (derivatives carried through
the trace) wherever the elements allow.

Examples
--------
>>> import lumivex, lumivex.optimize
>>> p = lumivex.Prescription()
>>> _ = p.add_standard(0.0, 50.0, lumivex.Material.model(1.5168, 64.2))
>>> _ = p.add_standard(5.0, -50.0, lumivex.Material.air())
>>> p.set_aperture("entrance pupil diameter", 10.0)
>>> p.fields = [(0.0, 0.0)]
>>> p.wavelengths = [0.5876]
>>> opt = lumivex.optimize.Optimizer(p)
>>> opt.vary("curvature", 1)
>>> opt.add("efl", target=40.0)
>>> result = opt.run(max_iterations=20)
>>> round(float(result.values_after[0]), 6)
40.0
"""

import numpy as np

from . import _lumivex

__all__ = ["Optimizer", "Result", "VARIABLES", "OPERANDS"]

VARIABLES = ("curvature", "thickness", "conic", "asphere")
OPERANDS = ("rms_spot", "ray_error", "efl", "bfl", "f_number", "total_track", "image_height",
            "min_thickness", "max_thickness", "min_edge_thickness")

# The keywords each operand reads (besides target and weight), with defaults.
_WHERE = {
    "rms_spot": {"field": 0, "wavelength": None, "rays": 100, "about_chief": False},
    "ray_error": {"field": 0, "wavelength": None, "pupil": (0.0, 1.0)},
    "efl": {"wavelength": None},
    "bfl": {"wavelength": None},
    "f_number": {"wavelength": None},
    "image_height": {"field": 0, "wavelength": None},
    "total_track": {},
    "min_thickness": {"element": None},
    "max_thickness": {"element": None},
    "min_edge_thickness": {"element": None, "height": 0.0},
}


class Result:
    """What :meth:`Optimizer.run` found.

    Attributes
    ----------
    prescription : lumivex.Prescription
        The optimized lens (the optimizer holds it too).
    x : ndarray (n,)
        The variables' final values.
    merit : float
        The merit after the run; ``history`` holds it at the start and after
        every iteration.
    history : ndarray
    operands : list of str
    targets, weights : ndarray (m,)
    values_before, values_after : ndarray (m,)
        The operands' values at the start and at the end.
    contributions_before, contributions_after : ndarray (m,)
        Each operand's share of the merit at both ends.
    sensitivities : dict
        At the end: ``variables``, ``operands`` (names), ``merit`` (n,),
        d merit / d variable, and ``operand_values`` (m, n), d value / d variable.
    iterations, converged, stop_reason, seconds
        The solver's account.
    """

    def __init__(self, raw, names, targets, weights, sensitivities, table):
        self.prescription = raw.prescription
        self.x = raw.values
        self.history = raw.history
        self.merit = float(raw.after.merit)
        self.merit_before = float(raw.before.merit)
        self.operands = list(names)
        self.targets = targets
        self.weights = weights
        self.values_before = raw.before.values
        self.values_after = raw.after.values
        self.contributions_before = raw.before.contributions
        self.contributions_after = raw.after.contributions
        self.sensitivities = sensitivities
        self.iterations = raw.iterations
        self.converged = raw.converged
        self.stop_reason = raw.stop_reason
        self.seconds = raw.seconds
        self._table = table

    def table(self):
        """The merit table: operand, target, value, weight, contribution before and after."""
        return self._table

    def __repr__(self):
        return (f"Result(merit {self.merit_before:.6g} -> {self.merit:.6g} in "
                f"{self.iterations} iterations, {self.stop_reason!r})")


class Optimizer:
    """Damped least squares on a prescription.

    Parameters
    ----------
    prescription : lumivex.Prescription
        Copied; :attr:`prescription` gives the copy with the current values.
    image_at_focus : bool, optional
        Whether the image plane follows the paraxial focus as the variables
        change; by default it does when the prescription's ``image_z`` is None.

    Raises
    ------
    TypeError
        For something that is not a Prescription.
    lumivex.Error
        For a prescription that is not valid.
    """

    def __init__(self, prescription, image_at_focus=None):
        if not isinstance(prescription, _lumivex.Prescription):
            raise TypeError("Optimizer takes a lumivex.Prescription, not "
                            f"{type(prescription).__name__}")
        self._merit = _lumivex._MeritFunction(prescription, image_at_focus)
        self._elements = len(prescription.system_at())

    # -- variables and operands ------------------------------------------------

    def vary(self, kind, element, bounds=None, term=None):
        """Makes a parameter of element ``element`` (of ``p.system_at()``) a variable.

        Parameters
        ----------
        kind : {"curvature", "thickness", "conic", "asphere"}
            A thickness is the gap behind the element (every later element
            moves with it); for the last surface, the distance to the image.
        element : int
        bounds : (lower, upper), optional
            None on either side: unbounded there.
        term : int, optional
            For "asphere": the coefficient of rho**(2*term), 1 to 8.

        Raises
        ------
        ValueError
            An unknown kind, or an element without that parameter.
        IndexError
            An element index outside the system.
        """
        if kind not in VARIABLES:
            raise ValueError(f"unknown variable kind {kind!r}; the kinds are "
                             + ", ".join(repr(k) for k in VARIABLES))
        if isinstance(element, bool) or not isinstance(element, (int, np.integer)):
            raise TypeError(f"element must be an int, not {type(element).__name__}")
        last = self._elements - 1
        if not 0 <= element <= last:
            raise IndexError(f"element {element} is not in the system (elements 0 to {last})")
        if kind == "asphere":
            if term is None:
                raise ValueError("an asphere variable needs term= (1 to 8)")
        elif term is not None:
            raise ValueError(f"term= is for asphere variables, not {kind}")
        lower, upper = -np.inf, np.inf
        if bounds is not None:
            try:
                lo, hi = bounds
            except (TypeError, ValueError):
                raise ValueError("bounds must be a pair (lower, upper)") from None
            lower = -np.inf if lo is None else float(lo)
            upper = np.inf if hi is None else float(hi)
        self._merit.add_variable(kind, int(element), int(term or 1), lower, upper)

    def add(self, operand, target=None, weight=1.0, **where):
        """Adds an operand.

        Parameters
        ----------
        operand : str
            One of :data:`OPERANDS`.
        target : float, optional
            None: 0 for "rms_spot" and "ray_error", otherwise the value the
            lens has now (so it is held). For "min_*"/"max_*" the bound.
        weight : float
        **where
            What the operand reads: ``field`` (index into the fields),
            ``wavelength`` (micrometres; None: the primary), ``rays`` (at
            least this many on hexapolar rings), ``about_chief``, ``pupil``
            ((px, py), normalised), ``element`` (the gap behind it),
            ``height``.

        Raises
        ------
        ValueError
            An unknown operand, or one the lens cannot measure.
        TypeError
            A keyword the operand does not read.
        IndexError
            A field or element outside the prescription.
        """
        if operand not in _WHERE:
            raise ValueError(f"unknown operand {operand!r}; the operands are "
                             + ", ".join(repr(o) for o in OPERANDS))
        allowed = _WHERE[operand]
        for key in where:
            if key not in allowed:
                raise TypeError(f"{operand} takes no {key}= (it takes "
                                + (", ".join(f"{k}=" for k in allowed) or "no keyword") + ")")
        args = dict(allowed)
        args.update(where)
        field = int(args.get("field", 0))
        fields = len(self.prescription.fields)
        if "field" in allowed and not 0 <= field < fields:
            raise IndexError(f"field {field} is not one of the prescription's {fields} fields")
        element = args.get("element", 0)
        if "element" in allowed:
            if element is None:
                raise TypeError(f"{operand} needs element=")
            if not 0 <= int(element) < self._elements:
                raise IndexError(f"element {element} is not in the system (elements 0 to "
                                 f"{self._elements - 1})")
        wavelength = args.get("wavelength")
        px, py = args.get("pupil", (0.0, 0.0))
        self._merit.add_operand(operand, None if target is None else float(target), float(weight),
                                field, None if wavelength is None else float(wavelength),
                                int(args.get("rays", 100)), bool(args.get("about_chief", False)),
                                float(px), float(py), int(element), float(args.get("height", 0.0)))

    # -- the merit function as arrays -------------------------------------------

    @property
    def prescription(self):
        """The prescription with the variables' current values."""
        return self._merit.prescription()

    @property
    def x0(self):
        """The variables' current values, (n,)."""
        return self._merit.x

    @property
    def bounds(self):
        """(lower, upper), each (n,), as scipy.optimize.least_squares takes them."""
        return self._merit.bounds

    @property
    def variables(self):
        return self._merit.variable_names

    @property
    def operands(self):
        return self._merit.operand_names

    def residuals(self):
        """The residuals at the current values: merit = sum(residuals**2)."""
        return self._merit.evaluate(False).residuals

    def jacobian(self):
        """d residual / d variable at the current values, (rows, n)."""
        return self._merit.evaluate(True).jacobian

    def jacobian_by_differences(self, step=1e-6):
        """The same Jacobian by central differences (relative step), for comparison."""
        return self._merit.evaluate_by_differences(float(step)).jacobian

    def merit(self):
        return float(self._merit.evaluate(False).merit)

    def set_x(self, x):
        """Sets the variables (on the optimizer's copy of the lens)."""
        self._merit.set_values(np.asarray(x, dtype=float))

    def fun(self, x):
        """The residuals at x: scipy.optimize.least_squares(opt.fun, opt.x0, jac=opt.jac)."""
        self.set_x(x)
        return self.residuals()

    def jac(self, x):
        """The Jacobian at x, (rows, n)."""
        self.set_x(x)
        return self.jacobian()

    # -- the solver ---------------------------------------------------------------

    def run(self, max_iterations=50, progress=None, relative_change=1e-9, max_seconds=60.0):
        """Damped least squares (Levenberg-Marquardt within the bounds) from the current values.

        Parameters
        ----------
        max_iterations : int
        progress : callable, optional
            Called after every iteration with a dict (iteration, merit,
            step_norm, accepted, seconds); returning False stops the run,
            keeping the best values found. What it raises is raised here.
        relative_change : float
            Stop when an iteration changes the merit by less than this share.
        max_seconds : float

        Returns
        -------
        Result
        """
        if progress is not None and not callable(progress):
            raise TypeError("progress must be callable")
        raw = self._merit.run(int(max_iterations), float(relative_change), float(max_seconds),
                              progress)
        return Result(raw, self._merit.operand_names, self._merit.targets, self._merit.weights,
                      self._merit.sensitivities(), self._merit.table(raw))

    def sensitivities(self):
        """At the current values: d merit / d variable and d value / d variable (a dict)."""
        return self._merit.sensitivities()
