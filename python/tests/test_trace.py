# SPDX-License-Identifier: Apache-2.0
import numpy as np
import pytest

import lumivex


def rays(n, seed=1):
    rng = np.random.default_rng(seed)
    p = np.c_[rng.uniform(-5, 5, (n, 2)), np.full(n, -2.0)]
    k = np.c_[rng.uniform(-0.1, 0.1, (n, 2)), np.ones(n)]
    return p, k / np.linalg.norm(k, axis=1)[:, None]


@pytest.fixture
def systems(singlet):
    rod = lumivex.System(2.0, [lumivex.Slab(0.0, 1.0), lumivex.GrinRod(7.854, 1.6, 0.2)])
    return [singlet, rod]


def test_batch_equals_single_rays_bit_for_bit(systems):
    for system in systems:
        p, k = rays(60)
        p[0] = [60.0, 0.0, -2.0]  # beyond the sphere's radius: no intersection
        r = system.trace(p, k, wavelength=5e-4, threads=2, keep_nodes=True)
        assert len(r) == 60
        for i in range(60):
            try:
                beam = system.trace_beam(p[i], k[i], wavelength=5e-4)
            except lumivex.TraceError as e:
                assert str(e) == r.message(i)
                beam = e.beam
            ok, last = len(r.message(i)) == 0, beam.nodes[-1]
            assert r.ok[i] == ok and (r.failed_element[i] < 0) == ok
            assert np.array_equal(r.position[i], last["position"])
            assert np.array_equal(r.direction[i], last["direction"])
            assert np.array_equal(r.polarization[i], last["polarization"])
            assert r.intensity[i] == last["intensity"] and r.phase[i] == last["phase"]
            assert np.array_equal(r.beam(i).nodes, beam.nodes)
        assert not r.ok[0]


def test_failures_are_reported_per_ray(singlet):
    # Beyond the sphere's radius of 50 the first face has no point.
    r = singlet.trace([[0, 0, -1], [60, 0, -1]], [[0, 0, 1]] * 2, wavelength=5e-4)
    assert list(r.ok) == [True, False] and list(r.failed_element) == [-1, 0]
    assert r.message(0) == "" and "Could not compute new k-Vector!" in r.message(-1)
    with pytest.raises(lumivex.TraceError) as e:
        singlet.trace_beam([60, 0, -1], [0, 0, 1], wavelength=5e-4)
    assert isinstance(e.value, lumivex.Error) and isinstance(e.value, RuntimeError)
    assert len(e.value.beam) == 2 and not e.value.beam.nodes[-1]["direction"].any()


def test_clear_apertures_vignette_rays_apart_from_failures(singlet):
    # Parallel rays at heights 0 … 7: the first face clipped at 3.5 stops
    # those above it; the ray at 60 still fails, not vignetted.
    x = np.r_[np.arange(8.0), 60.0]
    r = singlet.trace(np.c_[x, 0 * x, x * 0 - 1], [[0, 0, 1]] * 9, wavelength=5e-4, clip_radii=[3.5])
    assert list(r.vignetted) == [False] * 4 + [True] * 4 + [False]
    assert list(r.vignetted_element) == [-1] * 4 + [0] * 4 + [-1]
    assert list(r.ok) == [True] * 4 + [False] * 5 and list(r.failed_element) == [-1] * 8 + [0]
    assert r.message(5) == "" and np.allclose(r.position[4:8, 0], x[4:8])  # ended on the first face
    free = singlet.trace(np.c_[x, 0 * x, x * 0 - 1], [[0, 0, 1]] * 9, wavelength=5e-4, clip_radii=[np.nan, np.nan])
    assert np.array_equal(free.position[:4], r.position[:4]) and free.vignetted.sum() == 0
    assert "4 vignetted" in repr(r)
    for bad in ([1, 2, 3], [-1.0], [[1.0]]):
        with pytest.raises(ValueError, match="clip_radii"):
            singlet.trace([[0, 0, -1]], [[0, 0, 1]], wavelength=5e-4, clip_radii=bad)


def test_results_view_the_traced_nodes(singlet):
    p, k = rays(1000)
    r = singlet.trace(p.astype(np.float32).tolist(), k[::1], wavelength=5e-4)
    assert r.position.base is not None and r.position.strides == (88, 8)
    assert r.intensity.strides == (88,) and not r.position.flags.writeable
    # The whole nodes in one C-contiguous buffer, the columns views into it.
    assert r.nodes.shape == (1000, 11) and r.nodes.flags.c_contiguous and not r.nodes.flags.writeable
    assert np.shares_memory(r.nodes, r.phase) and np.array_equal(r.nodes[:, 3:6], r.direction)
    position = r.position
    del r
    assert np.all(np.isfinite(position))  # the view keeps the batch alive


def test_default_polarization_lies_in_the_plane_of_the_ray_and_x():
    empty = lumivex.System()  # leaves the start node alone
    k = np.array([[0.6, 0.0, 0.8], [0.0, 0.6, 0.8], [1.0, 0.0, 0.0]])
    start = [empty.trace_beam([0, 0, -1], ki, wavelength=5e-4).nodes[0]["polarization"] for ki in k]
    assert np.allclose(start, [[0.8, 0, -0.6], [1, 0, 0], [0, 1, 0]])


def test_snell_at_a_slab():
    # A plane face: n1 sin(theta1) = n2 sin(theta2), the closed form.
    s = lumivex.System(10.0, [lumivex.Slab(0.0, 1.0), lumivex.Slab(5.0, 1.5)])
    b = s.trace_beam([0, 0, -1], [np.sin(0.3), 0, np.cos(0.3)], wavelength=5e-4)
    assert b.nodes[1]["direction"][0] == pytest.approx(np.sin(0.3) / 1.5, rel=1e-14)
    assert b.optical_path_point(b.nodes[1]["phase"]) == pytest.approx(b.nodes[1]["position"])


def test_traced_radii_come_back_to_the_elements(singlet):
    singlet.trace([[1, 0, -1], [-3, 0, -1]], [[0, 0, 1]] * 2, wavelength=5e-4)
    assert singlet[0].opt_radius == 3.0
    assert 2.8 < singlet[1].opt_radius < 3.0  # the rays converge
