"""Synthetic photographs of a page with known corners, made with NumPy alone: a mottled desk, a
bright page seen at an angle, dark lines of text on it (the C++ tests' photographedPage, in Python)."""

import numpy as np


def box_blur(image: np.ndarray, side: int) -> np.ndarray:
    """Mean over a side x side box, edges repeated."""
    half = side // 2
    padded = np.pad(image, [(half, half), (half, half)] + [(0, 0)] * (image.ndim - 2), mode="edge")
    sums = padded.cumsum(0).cumsum(1)
    sums = np.pad(sums, [(1, 0), (1, 0)] + [(0, 0)] * (image.ndim - 2))
    h, w = image.shape[:2]
    return (sums[side:side + h, side:side + w] - sums[:h, side:side + w] - sums[side:side + h, :w]
            + sums[:h, :w]) / (side * side)


def inside(width: int, height: int, corners) -> np.ndarray:
    """Pixels inside the convex quadrangle, corners clockwise on screen."""
    ys, xs = np.mgrid[0:height, 0:width]
    mask = np.ones((height, width), bool)
    for (x0, y0), (x1, y1) in zip(corners, corners[1:] + corners[:1]):
        mask &= (x1 - x0) * (ys - y0) - (y1 - y0) * (xs - x0) >= 0
    return mask


def photographed_page(width: int, height: int, corners, seed: int = 7) -> np.ndarray:
    rng = np.random.default_rng(seed)
    grain = rng.uniform(50, 100, (height // 16 + 1, width // 16 + 1))
    grain = box_blur(np.kron(grain, np.ones((16, 16)))[:height, :width], 15)
    photo = np.stack([grain - 10, grain, grain + 15], axis=2)
    page = inside(width, height, corners)
    photo[page] = (228, 232, 235)
    centre_x = (corners[0][0] + corners[2][0]) // 2
    centre_y = (corners[0][1] + corners[2][1]) // 2
    for line in range(-6, 7):
        y = centre_y + line * height // 40
        text = page[y:y + 3, centre_x - width // 8:centre_x + width // 8]
        photo[y:y + 3, centre_x - width // 8:centre_x + width // 8][text] = 30
    return box_blur(photo, 5).clip(0, 255).astype(np.uint8)


# Pages at several tilts and sizes in a 640 x 480 photo: top-left, top-right, bottom-right, bottom-left.
PAGES = [
    [(160, 60), (470, 80), (500, 430), (130, 410)],
    [(120, 40), (520, 40), (520, 440), (120, 440)],
    [(200, 90), (430, 60), (460, 400), (180, 420)],
    [(100, 120), (540, 90), (560, 380), (90, 400)],
]
