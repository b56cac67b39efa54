"""Writes the seed corpus of the configuration-road fuzz target into tests/fuzz/corpus/.

Run from the repository root: python3 tests/fuzz/make_corpus.py
Seeds are named seed-<what>; inputs the fuzzer found worth keeping are named crash-<what> or
found-<what> and are left alone by this script.
"""

import copy
import json
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "python"))

from conftest import make_config  # noqa: E402

CORPUS = HERE / "corpus"

ACOUSTIC = {
    "model": "acoustic",
    "compressional_speed_m_s": 1600.0,
    "density_g_cm3": 1.8,
    "compressional_attenuation_db_per_wavelength": 0.5,
}
ELASTIC = {
    "model": "elastic",
    "compressional_speed_m_s": 1800.0,
    "shear_speed_m_s": 400.0,
    "density_g_cm3": 2.0,
    "compressional_attenuation_db_per_wavelength": 0.1,
    "shear_attenuation_db_per_wavelength": 0.2,
}

SECTION_ORDER = {
    "ssp": ["x_ssp_m", "y_ssp_m", "z_ssp_m", "c_m_s"],
    "bathymetry": ["x_bty_m", "y_bty_m", "z_bty_m", "water_density_g_cm3", "bottom_model"],
    "source": ["position", "freq_hz", "launch_elev_deg", "launch_azim_deg"],
    "receivers": ["config_type", "x_rcvr_m", "y_rcvr_m", "z_rcvr_m"],
    "beam": [
        "step_m",
        "max_steps",
        "max_range_m",
        "store_ray_paths",
        "show_progress",
        "atomic_progress_counter",
        "integration_method",
    ],
}


DROP = object()  # as a value in with_changes: remove the entry


def with_changes(base=None, **changes):
    """A copy of the base configuration with section or section__key entries replaced."""
    config = copy.deepcopy(base if base is not None else make_config())
    for dotted, value in changes.items():
        section, _, key = dotted.partition("__")
        if not key:
            if value is DROP:
                del config[section]
            else:
                config[section] = value
        elif value is DROP:
            del config[section][key]
        else:
            config[section][key] = value
    return config


def positional(section, record):
    """The record as an array of its values in declaration order, trailing defaults left off."""
    keys = SECTION_ORDER[section]
    values = [record.get(key) for key in keys]
    while values and values[-1] is None:
        values.pop()
    return values


def valid_seeds():
    seeds = {
        "valid-default": make_config(),
        "valid-acoustic": with_changes(bathymetry__bottom_model=ACOUSTIC),
        "valid-elastic": with_changes(bathymetry__bottom_model=ELASTIC),
        "valid-acoustic-no-attenuation": with_changes(
            bathymetry__bottom_model={k: v for k, v in ACOUSTIC.items() if "atten" not in k}
        ),
        "valid-elastic-null-attenuation": with_changes(
            bathymetry__bottom_model=dict(ELASTIC, shear_attenuation_db_per_wavelength=None)
        ),
        "valid-rigid-extra-members": with_changes(
            bathymetry__bottom_model={"depth": 3, "model": "rigid", "note": [1, {"a": 2}]}
        ),
        "valid-no-bottom-model": with_changes(bathymetry__bottom_model=DROP),
        "valid-water-density": with_changes(bathymetry__water_density_g_cm3=1.03),
        "valid-water-density-null": with_changes(bathymetry__water_density_g_cm3=None),
        "valid-rk2": with_changes(beam__integration_method="rk2"),
        "valid-rk2-object": with_changes(beam__integration_method={"rk2": None}),
        "valid-all-flags": with_changes(
            beam__store_ray_paths=True,
            beam__show_progress=False,
            beam__atomic_progress_counter=True,
            beam__integration_method="euler",
        ),
        "valid-array-receivers": with_changes(
            receivers={
                "config_type": "array",
                "x_rcvr_m": [100.0, 200.0, 300.0],
                "y_rcvr_m": [0.0, 50.0, -50.0],
                "z_rcvr_m": [10.0, 20.0, 30.0],
            }
        ),
        "valid-empty-receivers": with_changes(receivers__x_rcvr_m=[]),
        "valid-empty-frequencies": with_changes(source__freq_hz=[]),
        "valid-empty-launch": with_changes(source__launch_elev_deg=[], source__launch_azim_deg=[]),
        "valid-negative-depths": with_changes(
            ssp__z_ssp_m=[-0.0, -100.0],
            source__position=[0.0, 0.0, -50.0],
            receivers__z_rcvr_m=[-0.1, -20.0],
        ),
        "valid-integer-numbers": with_changes(beam__step_m=2, source__position=[0, 0, 5]),
        "valid-huge-max-steps": with_changes(beam__max_steps=18446744073709551615),
        "valid-elevation-edges": with_changes(source__launch_elev_deg=[-90, 90]),
        "valid-sloped-bottom": with_changes(
            bathymetry__x_bty_m=[-1000.0, 0.0, 1000.0],
            bathymetry__z_bty_m=[80.0, 90.0, 100.0, 110.0, 120.0, 130.0],
        ),
        "valid-profile": with_changes(
            ssp__z_ssp_m=[0.0, 50.0, 100.0],
            ssp__c_m_s=[1500.0, 1490.0, 1510.0] * 4,
        ),
        "valid-unknown-keys": dict(
            make_config(**{"+beam": {"note": {"x": [1, 2]}}, "+ssp": {"extra": "text"}}),
            comment="top level",
        ),
    }
    top_positional = make_config()
    seeds["valid-positional-top"] = [top_positional[s] for s in SECTION_ORDER]
    for section in SECTION_ORDER:
        config = make_config()
        config[section] = positional(section, config[section])
        seeds[f"valid-positional-{section}"] = config
    seeds["valid-bottom-array-form"] = with_changes(
        bathymetry__bottom_model=["elastic", 1800.0, 400.0, 2.0, 0.1, 0.2]
    )
    return seeds


def invalid_seeds():
    seeds = {}
    base = make_config()
    for section, keys in SECTION_ORDER.items():
        seeds[f"invalid-missing-{section}"] = with_changes(**{section: DROP})
        seeds[f"invalid-missing-{section}-{keys[0]}"] = with_changes(**{f"{section}__{keys[0]}": DROP})
        seeds[f"invalid-type-{section}"] = with_changes(**{section: 7})
        seeds[f"invalid-short-positional-{section}"] = with_changes(
            **{section: positional(section, base[section])[:1]}
        )
    seeds.update(
        {
            "invalid-empty-object": {},
            "invalid-top-array": [1, 2, 3],
            "invalid-c-zero": with_changes(ssp__c_m_s=[1500.0, 0.0, -3.0] + [1500.0] * 5),
            "invalid-c-empty": with_changes(ssp__c_m_s=[], beam__max_steps=0),
            "invalid-bty-empty": with_changes(bathymetry__z_bty_m=[]),
            "invalid-water-density-zero": with_changes(bathymetry__water_density_g_cm3=0),
            "invalid-acoustic-values": with_changes(
                bathymetry__bottom_model=dict(
                    ACOUSTIC,
                    compressional_speed_m_s=0,
                    density_g_cm3=-1,
                    compressional_attenuation_db_per_wavelength=-0.1,
                )
            ),
            "invalid-elastic-values": with_changes(
                bathymetry__bottom_model=dict(
                    ELASTIC, shear_speed_m_s=0, shear_attenuation_db_per_wavelength=-1
                )
            ),
            "invalid-bottom-missing-tag": with_changes(bathymetry__bottom_model={"density": 1}),
            "invalid-bottom-unknown-tag": with_changes(bathymetry__bottom_model={"model": "sand"}),
            "invalid-bottom-tag-type": with_changes(bathymetry__bottom_model={"model": 3}),
            "invalid-bottom-acoustic-partial": with_changes(
                bathymetry__bottom_model={"model": "acoustic", "density_g_cm3": 1.5}
            ),
            "invalid-bottom-string": with_changes(bathymetry__bottom_model="rigid"),
            "invalid-elevation": with_changes(source__launch_elev_deg=[0.0, 90.5]),
            "invalid-config-type": with_changes(receivers__config_type="Grid"),
            "invalid-beam-zeros": with_changes(
                beam__step_m=0, beam__max_steps=0, beam__max_range_m=0
            ),
            "invalid-max-steps-float": with_changes(beam__max_steps=1000.0),
            "invalid-max-steps-negative": with_changes(beam__max_steps=-1),
            "invalid-max-steps-too-big": with_changes(beam__max_steps=18446744073709551616),
            "invalid-flag-integer": with_changes(beam__store_ray_paths=1),
            "invalid-flag-null": with_changes(beam__show_progress=None),
            "invalid-method-case": with_changes(beam__integration_method="RK2"),
            "invalid-method-number": with_changes(beam__integration_method=2),
            "invalid-method-object-two": with_changes(
                beam__integration_method={"rk2": None, "euler": None}
            ),
            "invalid-position-short": with_changes(source__position=[1.0, 2.0]),
            "invalid-position-long": with_changes(source__position=[1.0, 2.0, 3.0, 4.0]),
            "invalid-list-of-strings": with_changes(source__freq_hz=["100"]),
            "invalid-config-type-number": with_changes(receivers__config_type=1),
            # set-up faults: shapes that only the grids and receivers check
            "setup-ssp-shape": with_changes(ssp__c_m_s=[1500.0] * 7),
            "setup-ssp-one-node": with_changes(
                ssp__x_ssp_m=[0.0], ssp__c_m_s=[1500.0] * 4
            ),
            "setup-bty-shape": with_changes(bathymetry__z_bty_m=[100.0] * 3),
            "setup-bty-empty-axis": with_changes(bathymetry__x_bty_m=[], bathymetry__z_bty_m=[1.0]),
            "setup-array-unequal": with_changes(
                receivers={
                    "config_type": "array",
                    "x_rcvr_m": [1.0, 2.0],
                    "y_rcvr_m": [1.0],
                    "z_rcvr_m": [1.0, 2.0],
                }
            ),
            "setup-decreasing-axes": with_changes(
                ssp__x_ssp_m=[1000.0, -1000.0], bathymetry__y_bty_m=[1000.0, -1000.0]
            ),
            "setup-large-receiver-grid": with_changes(
                receivers__x_rcvr_m=[float(i) for i in range(100)],
                receivers__y_rcvr_m=[float(i) for i in range(100)],
                receivers__z_rcvr_m=[float(i) for i in range(100)],
                source__freq_hz=[10.0, 20.0, 30.0, 40.0],
            ),
        }
    )
    return seeds


def text_seeds():
    """Texts no json.dumps produces: malformed JSON, non-finite tokens, deep nesting."""
    good = json.dumps(make_config())
    deep_known = json.dumps(make_config()).replace('"freq_hz": [100.0]', '"freq_hz": ' + "[" * 130 + "]" * 130)
    deep_unknown = good[:-1] + ', "deep": ' + "[" * 5000 + "]" * 5000 + "}"
    deep_bottom = good.replace(
        '{"model": "rigid"}', '{"model": "rigid", "x": ' + "{\"a\": " * 140 + "1" + "}" * 140 + "}"
    )
    return {
        "text-empty": "",
        "text-whitespace": " \n\t\r ",
        "text-null": "null",
        "text-string": json.dumps(good),
        "text-nan": good.replace("100.0]", "NaN]", 1),
        "text-infinity": good.replace("100.0]", "Infinity]", 1),
        "text-minus-infinity": good.replace("100.0]", "-Infinity]", 1),
        "text-huge-float": good.replace('"step_m": 10.0', '"step_m": 1e39'),
        "text-huge-exponent": good.replace('"step_m": 10.0', '"step_m": 1e99999999999999999999'),
        "text-tiny-float": good.replace('"step_m": 10.0', '"step_m": 1e-99999'),
        "text-long-digits": good.replace('"step_m": 10.0', '"step_m": ' + "9" * 400 + ".5"),
        "text-leading-zero": good.replace('"step_m": 10.0', '"step_m": 010'),
        "text-bad-fraction": good.replace('"step_m": 10.0', '"step_m": 1.'),
        "text-bad-exponent": good.replace('"step_m": 10.0', '"step_m": 1e+'),
        "text-lone-minus": good.replace('"step_m": 10.0', '"step_m": -'),
        "text-truncated": good[: len(good) // 2],
        "text-trailing-comma": good[:-1] + ",}",
        "text-trailing-text": good + " x",
        "text-two-documents": good + good,
        "text-duplicate-key": good.replace('"step_m": 10.0', '"step_m": 10.0, "step_m": 5.0'),
        "text-duplicate-tag": good.replace('{"model": "rigid"}', '{"model": "rigid", "model": "rigid"}'),
        "text-escapes": good.replace('"grid"', '"\\u0067r\\u0069d"'),
        "text-escaped-key": good.replace('"step_m"', '"step\\u005fm"'),
        "text-bad-escape": good.replace('"grid"', '"gr\\qid"'),
        "text-lone-surrogate": good.replace('"grid"', '"\\ud800"'),
        "text-surrogate-pair": good.replace('"grid"', '"\\ud83d\\ude00"'),
        "text-control-char": good.replace('"grid"', '"gr\x01id"'),
        "text-unterminated-string": good.replace('"grid"', '"grid'),
        "text-missing-colon": good.replace('"step_m": 10.0', '"step_m" 10.0'),
        "text-missing-comma": good.replace(', "max_steps"', ' "max_steps"'),
        "text-deep-known": deep_known,
        "text-deep-unknown": deep_unknown,
        "text-deep-bottom": deep_bottom,
        "text-open-brackets": "[" * 3000,
        "text-open-braces": '{"a":' * 2000,
        "text-bad-literal": good.replace(
            '"max_range_m": 500.0', '"max_range_m": 500.0, "store_ray_paths": tru'
        ),
    }


def main():
    CORPUS.mkdir(exist_ok=True)
    for old in CORPUS.glob("seed-*"):
        old.unlink()
    seeds = {**valid_seeds(), **invalid_seeds()}
    texts = {name: json.dumps(value) for name, value in seeds.items()}
    texts.update(text_seeds())
    for name, text in texts.items():
        (CORPUS / f"seed-{name}").write_bytes(text.encode("utf-8", "surrogateescape"))
    (CORPUS / "seed-text-invalid-utf8").write_bytes(
        json.dumps(make_config()).replace('"grid"', '"gr\xffid"').encode("latin-1")
    )
    print(f"wrote {len(texts) + 1} seeds to {CORPUS}")


if __name__ == "__main__":
    main()
